// Escaping of the values inserted into the crash report document. Values come from the crashed application
// (names, stack text, identifiers) and from the machine (registry, WMI, time zone and module names); none is
// trusted. Every value is escaped so that the document stays well-formed XML, a parser gives the value back,
// and no value can close an element early.
//
// Narrow texts are bytes in an ANSI code page. Escaping them byte by byte is safe in the double-byte code
// pages too: their trail bytes are never a control byte nor one of & < > " (0x26, 0x3C, 0x3E, 0x22).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kx {

// Attribute values: "&", "<", ">" and the double quote become "&#38;", "&#60;", "&#62;" and "&#34;"; tab,
// line feed and carriage return become "&#9;", "&#10;" and "&#13;" (a parser would turn them into blanks
// otherwise, and the element keeps to one line); every other control character, which XML 1.0 forbids,
// becomes "?". Backslashes and apostrophes stay, so paths stay readable.
std::string EscapeXmlAttribute(std::string_view text);
std::wstring EscapeXmlAttribute(std::wstring_view text);

// Appends a blank and name="value", the value escaped as above.
void AppendXmlAttribute(std::string& line, std::string_view name, std::string_view value);

// Element text: as for attributes, except that tab and line feed stay as they are, so stack texts keep their
// lines. A carriage return still becomes "&#13;": a parser would fold a raw one into the line feed.
std::string EscapeXmlElementText(std::string_view text);
std::wstring EscapeXmlElementText(std::wstring_view text);

// The reversible form of application texts (annotations, attachment names, a capture's reason), as pure
// ASCII. The bytes are meant as UTF-8: each valid UTF-8 character above U+007F becomes a decimal character
// reference; "&", "<", ">", the double quote and CR become references (in attributes also tab and LF);
// "%", every control byte XML 1.0 cannot carry, the characters U+FFFE and U+FFFF, and every byte that is
// not part of valid UTF-8 become "%XX" (upper-case hex). A reader gets the exact bytes back by parsing the
// XML, encoding the text as UTF-8 and undoing the %XX escapes.
std::string EscapeReversible(std::string_view bytes, bool attribute);

// The gpuinfo attribute values' form: as for attributes, and the apostrophe and the backslash also become
// "&#39;" and "&#92;". In place; one pass, so the references it writes are never escaped again, while a
// reference already in the text has its ampersand escaped.
void EscapeXmlText(std::wstring& text);

// The finished document as pure ASCII: every character above U+007F becomes a decimal character reference
// (a surrogate pair one reference for its code point, a lone surrogate "?"). The document carries no encoding
// declaration, so this is what makes values such as "Mitteleurop\u00E4ische Zeit" readable to any parser.
// Markup is ASCII, so only values are touched.
std::string AsciiWithCharacterReferences(std::wstring_view document);

// Shortens an escaped text to at most `limit` characters. A character reference or a surrogate pair that the
// cut would split is left out whole.
void CutEscapedText(std::wstring& text, std::size_t limit);

}  // namespace kx
