#include "report/gpu_probe.h"

#include <windows.h>
#include <wbemidl.h>

#include <cstdint>
#include <optional>

#include "common/text_convert.h"
#include "report/com_owners.h"
#include "report/gpu_info.h"

namespace kx {
namespace {

constexpr wchar_t kNamespace[] = L"ROOT\\CIMV2";
constexpr wchar_t kQueryLanguage[] = L"WQL";
constexpr wchar_t kQuery[] =
    L"SELECT Availability, AdapterCompatibility, AdapterRAM, Caption, Description, DriverDate, "
    L"DriverVersion, "
    L"VideoModeDescription, PNPDeviceID,InstalledDisplayDrivers,CurrentHorizontalResolution,"
    L"CurrentVerticalResolution,CurrentNumberOfColors, "
    L"CurrentScanMode,CurrentBitsPerPixel,VideoProcessor,Name "
    L"FROM Win32_VideoController";

// The report waits for WMI under a limit of its own (ReportProbes); this one keeps the probing thread
// itself from waiting for ever on a broken WMI service.
constexpr long kNextTimeoutMs = 30000;
// More controllers than any machine has; a misbehaving provider cannot make the loop endless.
constexpr int kMaxControllers = 64;

// Integer properties arrive as VT_I4 whatever their CIM width; the bits are what counts. A null or
// non-integer value counts as absent.
std::optional<std::uint32_t> IntegerOf(const VARIANT& value) {
  switch (value.vt) {
    case VT_I1:
    case VT_UI1: return value.bVal;
    case VT_I2:
    case VT_UI2: return value.uiVal;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: return value.ulVal;
    default: return std::nullopt;
  }
}

// A string property; empty when it is missing, null or not a string.
std::wstring ReadString(IWbemClassObject& object, const wchar_t* name) {
  UniqueVariant value;
  if (FAILED(object.Get(name, 0, value.put(), nullptr, nullptr))) return {};
  if (value.get().vt != VT_BSTR || value.get().bstrVal == nullptr) return {};
  return std::wstring(value.get().bstrVal, ::SysStringLen(value.get().bstrVal));
}

// The text as the narrow report will hold it (characters the code page lacks become its default
// character), so that the length limit counts what is written.
std::wstring ThroughAnsiCodePage(const std::wstring& text) {
  return WidenFromCodePage(NarrowToCodePage(text, CP_ACP), CP_THREAD_ACP);
}

GpuInfo ReadController(IWbemClassObject& object) {
  GpuInfo info;
  UniqueVariant value;
  if (SUCCEEDED(object.Get(L"Availability", 0, value.put(), nullptr, nullptr))) {
    // A null value reads as 0, "Other".
    info.availability = AvailabilityName(static_cast<std::uint16_t>(IntegerOf(value.get()).value_or(0)));
  }
  if (SUCCEEDED(object.Get(L"AdapterRAM", 0, value.put(), nullptr, nullptr))) {
    info.adapterRAM = FormatAdapterRam(IntegerOf(value.get()).value_or(0));
  }
  info.adapterCompatibility = ThroughAnsiCodePage(ReadString(object, L"AdapterCompatibility"));
  info.caption = ThroughAnsiCodePage(ReadString(object, L"Caption"));
  info.description = ThroughAnsiCodePage(ReadString(object, L"Description"));
  info.driverDate = ThroughAnsiCodePage(ReadString(object, L"DriverDate"));
  info.driverVersion = ThroughAnsiCodePage(ReadString(object, L"DriverVersion"));
  info.videoModeDescription = ThroughAnsiCodePage(ReadString(object, L"VideoModeDescription"));
  info.pnpDeviceID = ThroughAnsiCodePage(ReadString(object, L"PNPDeviceID"));
  info.installedDisplayDrivers = ReadString(object, L"InstalledDisplayDrivers");
  return info;
}

}  // namespace

void CollectGpuInfo(std::wstring& collector) {
  CollectGpuInfo([&collector](const std::wstring& line) {
    collector += line;
    return true;
  });
}

void CollectGpuInfo(const GpuLineSink& add) {
  // Declared first: every COM object below is released before COM is uninitialised.
  const ComApartment apartment(COINIT_MULTITHREADED);
  if (!apartment.entered()) return;

  ComPtr<IWbemLocator> locator;
  if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.put_void()))) {
    return;
  }
  const UniqueBstr wmiNamespace(::SysAllocString(kNamespace));
  const UniqueBstr language(::SysAllocString(kQueryLanguage));
  const UniqueBstr query(::SysAllocString(kQuery));
  if (!wmiNamespace || !language || !query) return;

  ComPtr<IWbemServices> services;
  if (FAILED(locator->ConnectServer(wmiNamespace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                    services.put()))) {
    return;
  }
  if (FAILED(::CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
    return;
  }

  // Semisynchronous: the query returns at once and each Next waits at most kNextTimeoutMs.
  ComPtr<IEnumWbemClassObject> controllers;
  if (FAILED(services->ExecQuery(language.get(), query.get(),
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 controllers.put()))) {
    return;
  }
  for (int count = 0; count < kMaxControllers; ++count) {
    ComPtr<IWbemClassObject> controller;
    ULONG returned = 0;
    controllers->Next(kNextTimeoutMs, 1, controller.put(), &returned);
    if (returned == 0 || !controller) break;
    if (!add(FormatGpuInfoLine(ReadController(*controller.get())))) break;
  }
}

}  // namespace kx
