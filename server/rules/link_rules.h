// Help links by signature rule, answered as Solution_url at the solution exchange. A rule is written
//   <signature>            exact: that signature only
//   prefix:<text>          every signature that starts with the text
//   module:<file name>     every signature in that module (letter case ignored, as Windows ignores it)
//   any                    every signature: a support page for crashes no other rule names
// An exact rule comes before any prefix rule, the longest prefix before shorter ones, a prefix rule before a
// module rule, and a module rule before the rule for any signature.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx::server {

enum class LinkRuleKind { kExact, kPrefix, kModule, kAny };

struct LinkRule {
  LinkRuleKind kind = LinkRuleKind::kExact;
  std::string pattern;
  std::string url;
};

// Nothing when the rule's text is empty after its kind, or the link cannot be opened by the client's
// front end (the client's own rule: an http(s) link without blanks or quotes).
std::optional<LinkRule> MakeLinkRule(std::string_view rule, std::string_view url);

const char* LinkRuleKindName(LinkRuleKind kind);
std::optional<LinkRuleKind> LinkRuleKindNamed(std::string_view name);
// The rule as written on the command line.
std::string LinkRuleText(const LinkRule& rule);

bool RuleMatches(const LinkRule& rule, std::string_view signature);

// The best of the rules for the signature, or nothing.
const LinkRule* ChooseLink(const std::vector<LinkRule>& rules, std::string_view signature);

}  // namespace kx::server
