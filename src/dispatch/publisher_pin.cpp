#include "dispatch/publisher_pin.h"

#include <algorithm>

namespace kx {

PublisherPin ChoosePublisherPin(const std::optional<Publisher>& serviceSigner,
                                const std::wstring& builtSubject, const std::string& builtThumbprint) {
  if (serviceSigner) return {PinSource::kServiceSigner, *serviceSigner};
  if (!builtSubject.empty() && !builtThumbprint.empty()) {
    return {PinSource::kBuildSetting, {builtSubject, {builtThumbprint}}};
  }
  return {};
}

TrustVerdict JudgePublisher(const Publisher& signer, const PublisherPin& pin) {
  switch (pin.source) {
    case PinSource::kNone:
      return {false,
              "No publisher to compare the signer with: the service is not signed and no publisher was set "
              "at build time."};
    case PinSource::kServiceSigner:
      if (signer.subject != pin.publisher.subject) {
        return {false, "The signer is not the service's publisher: another subject."};
      }
      if (signer.issuerThumbprints != pin.publisher.issuerThumbprints) {
        return {false, "The signer is not the service's publisher: issued through another chain."};
      }
      return {true, "The signer is the service's own publisher."};
    case PinSource::kBuildSetting: {
      if (signer.subject != pin.publisher.subject) {
        return {false, "The signer is not the publisher set at build time: another subject."};
      }
      const auto& issuers = signer.issuerThumbprints;
      const std::string& wanted = pin.publisher.issuerThumbprints.front();
      if (std::find(issuers.begin(), issuers.end(), wanted) == issuers.end()) {
        return {false, "The signer is not the publisher set at build time: not issued through its CA."};
      }
      return {true, "The signer is the publisher set at build time."};
    }
  }
  return {false, "No publisher to compare the signer with."};
}

}  // namespace kx
