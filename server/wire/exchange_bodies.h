// The JSON bodies of the preference exchange and of event posting (docs/server-exchanges.md), read with a
// real parser, and the answer of the preference exchange, which the client reads without a JSON parser.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx::server {

struct BuildPreference {
  std::string product, version, build;
  std::string value;  // "0_1_100": the dump kind first
};

// The builds of a preference request: an array of objects whose product, version, build and preferences
// are strings. The empty body (a client with no build to send) is the empty list; anything else is nothing.
std::optional<std::vector<BuildPreference>> ReadPreferenceRequest(std::string_view body);

// The client reads the answer's strings without escapes and ends an object at any "}", so only text of
// printable ASCII without quote, backslash and braces travels in it.
bool TravelsPlain(std::string_view text);

// A stored preference: one to eight fields of one to nine digits, joined by "_".
bool IsPreferenceValue(std::string_view value);

// The value of the "Updated Preferences" header line: a JSON array of one object per build, each field a
// plain string. Builds with a field that cannot travel plain are left out.
std::string UpdatedPreferencesValue(const std::vector<BuildPreference>& builds);

struct EventDocument {
  std::size_t events = 0;
  std::string project;
  std::string type;  // the first event's "event.type"/"event.subtype"/"event.value", for counting
};

// {"events":[{...,"data":{...}}, ...]} with at least one event; nothing for anything else.
std::optional<EventDocument> ReadEventDocument(std::string_view body);

// Compares in time that does not depend on where the texts differ.
bool SameSecret(std::string_view sent, std::string_view expected);

}  // namespace kx::server
