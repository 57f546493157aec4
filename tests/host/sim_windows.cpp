// The platform layer over the simulated Windows.
#include "tests/host/sim_windows.h"

#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

std::vector<std::uint8_t> Key(const platform::Guid& guid) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&guid);
  return {bytes, bytes + sizeof guid};
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// CommandLineToArgvW's rules: the program name ends at the first blank or,
// when quoted, at the next quote; later arguments follow the backslash and
// quote rules, where 2n backslashes before a quote give n and the quote
// toggles quoting, 2n+1 give n and a literal quote, and inside quotes a
// doubled quote is a literal quote.
std::vector<std::u16string> Split(const std::u16string& line) {
  std::vector<std::u16string> out;
  std::size_t i = 0;
  std::u16string first;
  if (i < line.size() && line[i] == u'"') {
    ++i;
    while (i < line.size() && line[i] != u'"') first += line[i++];
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && !IsBlank(line[i])) first += line[i++];
  }
  out.push_back(first);
  while (i < line.size() && IsBlank(line[i])) ++i;

  while (i < line.size()) {
    std::u16string argument;
    int quotes = 0;
    std::size_t backslashes = 0;
    while (i < line.size() && !(quotes == 0 && IsBlank(line[i]))) {
      const char16_t c = line[i];
      if (c == u'\\') {
        argument += c;
        ++backslashes;
        ++i;
        continue;
      }
      if (c != u'"') {
        argument += c;
        backslashes = 0;
        ++i;
        continue;
      }
      argument.resize(argument.size() - backslashes / 2);
      if (backslashes % 2 == 0) {
        ++quotes;
      } else {
        argument.back() = u'"';
      }
      backslashes = 0;
      ++i;
      while (i < line.size() && line[i] == u'"') {
        if (++quotes == 3) {
          argument += u'"';
          quotes = 0;
        }
        ++i;
      }
      if (quotes == 2) quotes = 0;
    }
    out.push_back(argument);
    while (i < line.size() && IsBlank(line[i])) ++i;
  }
  return out;
}

// One block holding the pointer array and the strings, as Windows does.
char16_t** PackVector(const std::vector<std::u16string>& arguments) {
  std::size_t units = 0;
  for (const auto& a : arguments) units += a.size() + 1;
  const std::size_t table = (arguments.size() + 1) * sizeof(char16_t*);
  auto* block = static_cast<unsigned char*>(std::malloc(table + units * sizeof(char16_t)));
  auto** vector = reinterpret_cast<char16_t**>(block);
  auto* text = reinterpret_cast<char16_t*>(block + table);
  for (std::size_t n = 0; n < arguments.size(); ++n) {
    vector[n] = text;
    std::memcpy(text, arguments[n].c_str(), (arguments[n].size() + 1) * sizeof(char16_t));
    text += arguments[n].size() + 1;
  }
  vector[arguments.size()] = nullptr;
  return vector;
}

}  // namespace

std::u16string Windows::Lower(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return text;
}

RegistryValues* Windows::RunValues() {
  const auto found = keys.find(Lower(kRunKey));
  return found == keys.end() ? nullptr : &found->second;
}

std::vector<std::uint8_t> TextBytes(const std::u16string& text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.c_str());
  return {bytes, bytes + (text.size() + 1) * sizeof(char16_t)};
}

Windows& State() {
  static Windows windows;
  return windows;
}

void Reset() {
  for (char16_t** vector : State().liveVectors) std::free(vector);
  State() = Windows{};
}

void RegisterClass(const std::u16string& progId, const platform::Guid& classId,
                   ObjectFactory factory) {
  State().classNames[progId] = classId;
  State().factories[Key(classId)] = std::move(factory);
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (const char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::vector<std::string> TraceLines() {
  std::vector<std::string> lines;
  for (const auto& message : State().traces) lines.push_back(Narrow(message));
  return lines;
}

bool SameGuid(const platform::Guid& a, const platform::Guid& b) { return Key(a) == Key(b); }

}  // namespace sim

namespace platform {

using sim::State;

void Trace(const char16_t* message) { State().traces.emplace_back(message); }

const char16_t* ProcessCommandLine() { return State().commandLine.c_str(); }

char16_t** SplitCommandLine(const char16_t* commandLine, int* count) {
  if (State().splitFails) return nullptr;
  const auto arguments = sim::Split(commandLine);
  *count = static_cast<int>(arguments.size());
  char16_t** vector = sim::PackVector(arguments);
  State().liveVectors.insert(vector);
  return vector;
}

void FreeArgumentVector(char16_t** vector) {
  if (State().liveVectors.erase(vector) == 1) {
    std::free(vector);
    ++State().vectorsFreed;
  }
}

std::uint32_t OwnModulePath(char16_t* buffer, std::uint32_t capacity) {
  if (State().modulePathFails) return 0;
  const std::u16string& path = State().modulePath;
  if (path.size() + 1 > capacity) {  // cut short, terminated, as Windows does
    std::memcpy(buffer, path.data(), (capacity - 1) * sizeof(char16_t));
    buffer[capacity - 1] = 0;
    return capacity;
  }
  std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(char16_t));
  return static_cast<std::uint32_t>(path.size());
}

// Enough of wsprintfW for the program's formats: %d and %%.
int FormatNumbers(char16_t* buffer, const char16_t* format, std::int32_t first,
                  std::int32_t second) {
  const std::int32_t numbers[] = {first, second};
  std::size_t next = 0;
  std::u16string out;
  for (const char16_t* p = format; *p != 0; ++p) {
    if (*p != u'%') {
      out += *p;
    } else if (*++p == u'd' && next < 2) {
      for (const char c : std::to_string(numbers[next++])) out += static_cast<char16_t>(c);
    } else {
      out += *p;
    }
  }
  std::memcpy(buffer, out.c_str(), (out.size() + 1) * sizeof(char16_t));
  return static_cast<int>(out.size());
}

bool ReadPowerStatus(PowerStatus* status) {
  ++State().powerStatusReads;
  if (State().powerStatusFails) return false;
  *status = PowerStatus{};
  status->acLineStatus = State().acLineStatus;
  return true;
}

HResult EnterComApartment(std::uint32_t concurrencyModel) {
  State().enterModels.push_back(concurrencyModel);
  return State().enterResult;
}

void LeaveComApartment() { ++State().apartmentLeaves; }

HResult ClassIdFromName(const char16_t* progId, Guid* classId) {
  State().classNameLookups.emplace_back(progId);
  const auto found = State().classNames.find(progId);
  if (found == State().classNames.end()) return sim::kInvalidSyntax;
  *classId = found->second;
  return sim::kOk;
}

HResult CreateComObject(const Guid& classId, std::uint32_t context, const Guid& interfaceId,
                        void** object) {
  const sim::CreateRequest request{classId, context, interfaceId};
  State().createRequests.push_back(request);
  *object = nullptr;
  const auto found = State().factories.find(sim::Key(classId));
  if (found == State().factories.end()) return sim::kClassNotRegistered;
  return found->second(request, object);
}

// Key handles are numbers that index the open-key list: 0x1000 and up.
namespace {
constexpr std::uintptr_t kCurrentUser = 0x80000001;

sim::RegistryValues* ValuesOf(RegistryKey key) {
  const auto path = State().openKeys.find(reinterpret_cast<std::uintptr_t>(key));
  if (path == State().openKeys.end()) return nullptr;
  const auto found = State().keys.find(path->second);
  return found == State().keys.end() ? nullptr : &found->second;
}

std::u16string LowerName(const char16_t* name) {
  return sim::Windows::Lower(name == nullptr ? u"" : name);
}
}  // namespace

RegistryKey CurrentUserRoot() { return reinterpret_cast<RegistryKey>(kCurrentUser); }

std::int32_t RegistryOpenKey(RegistryKey root, const char16_t* subKey, std::uint32_t options,
                             std::uint32_t access, RegistryKey* key) {
  State().keyOpens.push_back({subKey, options, access});
  if (reinterpret_cast<std::uintptr_t>(root) != kCurrentUser) return sim::kErrorInvalidHandle;
  const std::u16string path = sim::Windows::Lower(subKey);
  if (State().keys.count(path) == 0) return kErrorFileNotFound;
  const std::uintptr_t handle = State().nextKey++;
  State().openKeys[handle] = path;
  *key = reinterpret_cast<RegistryKey>(handle);
  return kErrorSuccess;
}

std::int32_t RegistrySetValue(RegistryKey key, const char16_t* name, std::uint32_t type,
                              const void* data, std::uint32_t byteCount) {
  sim::RegistryValues* values = ValuesOf(key);
  if (values == nullptr) return sim::kErrorInvalidHandle;
  if (State().setValueError != 0) return State().setValueError;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  (*values)[LowerName(name)] = {type, {bytes, bytes + byteCount}};
  return kErrorSuccess;
}

std::int32_t RegistryDeleteValue(RegistryKey key, const char16_t* name) {
  sim::RegistryValues* values = ValuesOf(key);
  if (values == nullptr) return sim::kErrorInvalidHandle;
  if (State().deleteValueError != 0) return State().deleteValueError;
  return values->erase(LowerName(name)) == 1 ? kErrorSuccess : kErrorFileNotFound;
}

void RegistryCloseKey(RegistryKey key) {
  State().openKeys.erase(reinterpret_cast<std::uintptr_t>(key));
}

}  // namespace platform
