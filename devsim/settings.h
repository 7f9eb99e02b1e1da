// Device settings as tables. Every setting (and every state value a device
// shows) is declared once, as one row of its family's table: its key, the
// values it takes, one line of help, and the field it reads and writes. The
// control port's add, set, show, keys and help all walk these tables; nothing
// else lists the keys.
//
//   SettingTable KvxrScan::Settings() const {
//     auto f = Bind();
//     return {"KV-xR scan", {
//         f.Millis("kv_delay", &KvScanState::delayMs, "answer the discover after this many ms"),
//         f.Choice("opmode_order", &KvScanState::order, kOrderNames, "the report before or after the announce"),
//     }};
//   }
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qs::devsim {

struct Device;
using Apply = std::function<void(Device&)>;

struct Setting {
  std::string key;
  std::string values;  // what the value looks like, for help ("0..255", "good|bad")
  std::string help;    // one line
  // Reads a value; on success *apply writes it into a device (so that a
  // command with several settings changes all of them or none). Null for a
  // state value, which is shown but not set.
  std::function<bool(const std::string& value, Apply* apply, std::string* why)> parse;
  std::function<std::string(const Device&)> show;
  std::function<bool(const Device&)> shown;  // null: always shown
  bool settable() const { return static_cast<bool>(parse); }
};

struct SettingTable {
  std::string family;  // heading in help
  std::vector<Setting> settings;
};

// ---- value syntax shared by the tables ----
bool ParseUnsigned(const std::string& v, uint64_t max, uint64_t* out);
bool ParseCount(const std::string& v, uint32_t max, uint32_t* out);
bool ParseSigned(const std::string& v, long min, long max, long* out);
bool ParseFlag(const std::string& v, bool* out);  // 0|1 (also no|yes, off|on)
bool Printable(const std::string& v, size_t max);  // ASCII 0x20..0x7E only
std::vector<std::string> SplitComma(const std::string& v);
// Bytes of a received text field up to its first NUL, with anything outside
// printable ASCII (and the backslash) written as \xHH.
std::string Escaped(const uint8_t* p, size_t n);

// Index of name in names, -1 when absent.
int NameIndex(const std::string& name, const char* const* names, size_t count);
std::string JoinNames(const char* const* names, size_t count, const char* separator);

// A set of the values of a small enumeration (at most 32), named by a table.
template <class E>
class KindSet {
 public:
  bool Has(E e) const { return (bits_ >> static_cast<unsigned>(e)) & 1u; }
  void Add(E e) { bits_ |= 1u << static_cast<unsigned>(e); }
  bool empty() const { return bits_ == 0; }
  bool operator==(const KindSet& o) const { return bits_ == o.bits_; }

 private:
  uint32_t bits_ = 0;
};

// Rows bound to the fields of one state struct S that a device holds; get
// reaches the struct inside a device.
template <class S>
class Fields {
 public:
  using Get = std::function<S&(Device&)>;
  explicit Fields(Get get) : get_(std::move(get)) {}

  // The general row: a field of type T, its syntax, a parser and a printer.
  template <class T>
  Setting Value(const char* key, T S::*m, std::string values, const char* help,
                std::function<bool(const std::string&, T*)> parse, std::function<std::string(const T&)> print) const {
    Get get = get_;
    Setting s;
    s.key = key;
    s.values = values;
    s.help = help;
    std::string name = key;
    s.parse = [get, m, parse, name, values](const std::string& text, Apply* apply, std::string* why) {
      T v{};
      if (!parse(text, &v)) {
        *why = "bad value for " + name + ": " + values;
        return false;
      }
      *apply = [get, m, v](Device& d) { get(d).*m = v; };
      return true;
    };
    s.show = [get, m, print](const Device& d) { return print(get(const_cast<Device&>(d)).*m); };
    return s;
  }

  // An unsigned number from 0 to max.
  template <class T>
  Setting Number(const char* key, T S::*m, uint64_t max, const char* help) const {
    return Value<T>(
        key, m, "0.." + std::to_string(max), help,
        [max](const std::string& t, T* o) {
          uint64_t n = 0;
          if (!ParseUnsigned(t, max, &n)) return false;
          *o = static_cast<T>(n);
          return true;
        },
        [](const T& v) { return std::to_string(v); });
  }
  // Milliseconds, up to ten minutes.
  Setting Millis(const char* key, uint32_t S::*m, const char* help) const {
    return Number<uint32_t>(key, m, 600000, help);
  }
  Setting Flag(const char* key, bool S::*m, const char* help) const {
    return Value<bool>(key, m, "0|1", help, ParseFlag, [](const bool& v) { return std::string(v ? "1" : "0"); });
  }
  Setting Text(const char* key, std::string S::*m, size_t max, const char* help) const {
    return Value<std::string>(
        key, m, "TEXT (at most " + std::to_string(max) + " printable characters)", help,
        [max](const std::string& t, std::string* o) {
          if (!Printable(t, max)) return false;
          *o = t;
          return true;
        },
        [](const std::string& v) { return v; });
  }
  // One value of enumeration E, whose values 0..N-1 are named by names.
  template <class E, size_t N>
  Setting Choice(const char* key, E S::*m, const char* const (&names)[N], const char* help) const {
    const char* const* table = names;
    return Value<E>(
        key, m, JoinNames(names, N, "|"), help,
        [table](const std::string& t, E* o) {
          int i = NameIndex(t, table, N);
          if (i < 0) return false;
          *o = static_cast<E>(i);
          return true;
        },
        [table](const E& v) { return std::string(table[static_cast<size_t>(v)]); });
  }
  // A comma list of values of E ("-" for none).
  template <class E, size_t N>
  Setting Kinds(const char* key, KindSet<E> S::*m, const char* const (&names)[N], const char* help) const {
    const char* const* table = names;
    return Value<KindSet<E>>(
        key, m, "comma list of " + JoinNames(names, N, " ") + ", or -", help,
        [table](const std::string& t, KindSet<E>* o) {
          KindSet<E> set;
          if (t != "-") {
            for (const auto& item : SplitComma(t)) {
              int i = NameIndex(item, table, N);
              if (i < 0) return false;
              set.Add(static_cast<E>(i));
            }
          }
          *o = set;
          return true;
        },
        [table](const KindSet<E>& v) {
          std::string s;
          for (size_t i = 0; i < N; ++i)
            if (v.Has(static_cast<E>(i))) s += (s.empty() ? "" : ",") + std::string(table[i]);
          return s.empty() ? std::string("-") : s;
        });
  }
  // A state value: shown (when shown says so), never set.
  Setting State(const char* key, const char* help, std::function<std::string(const S&)> print,
                std::function<bool(const S&)> shown = nullptr) const {
    Get get = get_;
    Setting s;
    s.key = key;
    s.help = help;
    s.show = [get, print](const Device& d) { return print(get(const_cast<Device&>(d))); };
    if (shown) s.shown = [get, shown](const Device& d) { return shown(get(const_cast<Device&>(d))); };
    return s;
  }

 private:
  Get get_;
};

}  // namespace qs::devsim
