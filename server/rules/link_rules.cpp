#include "rules/link_rules.h"

#include "common/ascii_text.h"
#include "net/solution_answer.h"
#include "rules/signature.h"

namespace kx::server {
namespace {

constexpr std::string_view kPrefixWord = "prefix:";
constexpr std::string_view kModuleWord = "module:";
constexpr std::string_view kAnyWord = "any";

std::string Lower(std::string_view text) {
  std::string lower(text);
  LowerAsciiInPlace(lower);
  return lower;
}

int Rank(const LinkRule& rule) {
  return static_cast<int>(rule.kind);
}

}  // namespace

std::optional<LinkRule> MakeLinkRule(std::string_view rule, std::string_view url) {
  LinkRule made;
  if (rule == kAnyWord) {
    made.kind = LinkRuleKind::kAny;
  } else if (rule.substr(0, kPrefixWord.size()) == kPrefixWord) {
    made.kind = LinkRuleKind::kPrefix;
    rule.remove_prefix(kPrefixWord.size());
  } else if (rule.substr(0, kModuleWord.size()) == kModuleWord) {
    made.kind = LinkRuleKind::kModule;
    rule.remove_prefix(kModuleWord.size());
  }
  if (rule.empty() || !IsOpenableLink(url)) return std::nullopt;
  made.pattern = rule;
  made.url = url;
  return made;
}

const char* LinkRuleKindName(LinkRuleKind kind) {
  switch (kind) {
    case LinkRuleKind::kExact: return "exact";
    case LinkRuleKind::kPrefix: return "prefix";
    case LinkRuleKind::kModule: return "module";
    case LinkRuleKind::kAny: break;
  }
  return "any";
}

std::optional<LinkRuleKind> LinkRuleKindNamed(std::string_view name) {
  for (const LinkRuleKind kind :
       {LinkRuleKind::kExact, LinkRuleKind::kPrefix, LinkRuleKind::kModule, LinkRuleKind::kAny}) {
    if (name == LinkRuleKindName(kind)) return kind;
  }
  return std::nullopt;
}

std::string LinkRuleText(const LinkRule& rule) {
  if (rule.kind == LinkRuleKind::kExact || rule.kind == LinkRuleKind::kAny) return rule.pattern;
  return std::string(LinkRuleKindName(rule.kind)) + ":" + rule.pattern;
}

bool RuleMatches(const LinkRule& rule, std::string_view signature) {
  switch (rule.kind) {
    case LinkRuleKind::kExact: return signature == rule.pattern;
    case LinkRuleKind::kPrefix: return signature.substr(0, rule.pattern.size()) == rule.pattern;
    case LinkRuleKind::kModule: {
      const std::string module = SignatureModule(signature);
      return !module.empty() && Lower(module) == Lower(rule.pattern);
    }
    case LinkRuleKind::kAny: return true;
  }
  return false;
}

const LinkRule* ChooseLink(const std::vector<LinkRule>& rules, std::string_view signature) {
  const LinkRule* best = nullptr;
  for (const LinkRule& rule : rules) {
    if (!RuleMatches(rule, signature)) continue;
    if (best == nullptr || Rank(rule) < Rank(*best) ||
        (Rank(rule) == Rank(*best) && rule.pattern.size() > best->pattern.size())) {
      best = &rule;
    }
  }
  return best;
}

}  // namespace kx::server
