#include "store/KeyValueStore.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/Log.h"
#include "common/aFile.h"
#include "store/ReplaceFile.h"

const char* const KeyValueStore::DEFAULT_FILENAME = ".settings";
const char* const KeyValueStore::KEY_CREATED_TIME = "CREATED_TIME";
const char* const KeyValueStore::KEY_UPDATED_TIME = "UPDATED_TIME";

namespace {

constexpr size_t kLineBufferSize = 2048;

std::string _trim(const char* begin, const char* end) {
  while (begin < end && isspace(static_cast<unsigned char>(*begin))) ++begin;
  while (end > begin && isspace(static_cast<unsigned char>(end[-1]))) --end;
  return std::string(begin, end);
}

// The leading decimal number as atoi reads it, but clamped to the int range
// instead of running into undefined behaviour on a long digit string.
int _to_int(const std::string& text) {
  const long value = strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace

KeyValueStore::KeyValueStore(const char* path) {
  if (path != nullptr) Load(path);
}

const char* KeyValueStore::operator[](const char* key) const {
  if (key == nullptr) return nullptr;
  const auto found = entries.find(key);
  return found == entries.end() ? nullptr : found->second.c_str();
}

const std::string* KeyValueStore::_value_for_conversion(const char* key) {
  if (key == nullptr) return nullptr;
  const std::string& value = entries[key];
  return value.empty() ? nullptr : &value;
}

int KeyValueStore::GetInt(const char* key, int def) {
  const std::string* value = _value_for_conversion(key);
  return value == nullptr ? def : _to_int(*value);
}

unsigned int KeyValueStore::GetHex(const char* key, unsigned int def) {
  const std::string* value = _value_for_conversion(key);
  return value == nullptr ? def : static_cast<unsigned int>(strtoll(value->c_str(), nullptr, 16));
}

bool KeyValueStore::GetBOOL(const char* key, bool def) {
  const std::string* value = _value_for_conversion(key);
  return value == nullptr ? def : _to_int(*value) != 0;
}

double KeyValueStore::GetDouble(const char* key, double def) {
  const std::string* value = _value_for_conversion(key);
  return value == nullptr ? def : strtod(value->c_str(), nullptr);
}

std::string KeyValueStore::GetString(const char* key, const char* def) const {
  if (const char* value = (*this)[key]) return value;
  return def != nullptr ? def : "";
}

bool KeyValueStore::_set(const char* key, std::string value) {
  if (key == nullptr) return true;
  std::string& slot = entries[key];
  if (slot != value) {
    slot = std::move(value);
    changed = true;
  }
  return true;
}

bool KeyValueStore::Add(const char* key, int value) { return _set(key, std::to_string(value)); }

// Kept whole: a huge magnitude writes a long "%f" text rather than a cut one
// that would read back as a different number.
bool KeyValueStore::Add(const char* key, double value) {
  const int length = snprintf(nullptr, 0, "%f", value);
  std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
  snprintf(text.data(), text.size() + 1, "%f", value);
  return _set(key, std::move(text));
}

bool KeyValueStore::AddHex(const char* key, unsigned int value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", value);
  return _set(key, text);
}

bool KeyValueStore::Add(const char* key, const char* value) { return _set(key, value != nullptr ? value : ""); }

bool KeyValueStore::Add(const char* key, const std::string& value) { return _set(key, value); }

bool KeyValueStore::Add(const KeyValueStore& other) {
  for (const auto& [key, value] : other.entries) entries[key] = value;
  if (!other.entries.empty()) changed = true;
  return true;
}

bool KeyValueStore::Clear() {
  entries.clear();
  changed = true;
  return true;
}

void KeyValueStore::Load(const char* path) {
  if (path == nullptr) return;
  aFileRef file = aFile_Open(path, aFileModeReadOnly);
  if (file == nullptr) {
    const int openError = errno;
    Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n", path, openError);
    Add(KEY_CREATED_TIME, TimeStamp());
    // Sets the file name; a save that fails leaves the store changed.
    Save(path);
    return;
  }
  fileName = path;
  changed = false;

  char line[kLineBufferSize];
  size_t length = 0;
  while (aFile_ReadLine(file, line, sizeof line, &length) == aErrNone) {
    if (length < 3 || line[0] == '#') continue;
    const char* end = line + length;
    const char* equals = line;
    while (equals < end && *equals != '=') ++equals;
    std::string key = _trim(line, equals);
    std::string value = equals < end ? _trim(equals + 1, end) : std::string();
    // A line that trims down to nothing names no key (e.g. " = ").
    if (key.empty()) continue;
    entries[std::move(key)] = std::move(value);
  }
  aFile_Close(&file);
}

void KeyValueStore::Save(const char* path) {
  if (path != nullptr) {
    fileName = path;
  } else if (fileName.empty()) {
    fileName = DEFAULT_FILENAME;
    Log::log(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n", fileName.c_str());
  }
  if (changed) Add(KEY_UPDATED_TIME, TimeStamp());

  std::string text;
  for (const auto& [key, value] : entries) text += key + "=" + value + "\n";

  int systemError = 0;
  const aErr result = ReplaceFile(fileName, text.data(), text.size(), &systemError);
  if (result == aErrNotFound) {
    Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
             fileName.c_str(), systemError);
    return;
  }
  if (result != aErrNone) {
    Log::log(DEBUG_Attributes, "Attibutes: Error (%u) writing attributes file: '%s'\n", result, fileName.c_str());
    return;
  }
  changed = false;
}

std::string KeyValueStore::TimeStamp() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return std::string();
  char text[64];
  snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %4d", kDays[local.tm_wday % 7], kMonths[local.tm_mon % 12],
           local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
  return text;
}
