// The code page layer over glibc's iconv. UTF-16 to CP932 and CP932 to UTF-16 go through tables
// that iconv fills once (the second one lead byte at a time, as met), so that converting a text
// costs one lookup per character.
#include "korinbo/codepage.h"

#include <iconv.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "convert/cp932_table.h"

namespace korinbo {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// One iconv conversion descriptor, move-only.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(Iconv&& other) noexcept : cd_(std::exchange(other.cd_, kNoConverter)) {}
  Iconv& operator=(Iconv&& other) noexcept {
    if (this != &other) {
      if (ok()) iconv_close(cd_);
      cd_ = std::exchange(other.cd_, kNoConverter);
    }
    return *this;
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return cd_ != kNoConverter; }

  // Converts as much as it can, appending to out; false at a sequence it cannot convert (or one
  // cut off by the end), with in left at that sequence and the converter back in its initial state.
  bool Convert(std::string_view& in, std::string& out) {
    // iconv's interface takes a non-const input pointer but does not write through it.
    char* in_ptr = const_cast<char*>(in.data());
    std::size_t in_left = in.size();
    bool converted = true;
    while (in_left > 0) {
      char buffer[4096];
      char* out_ptr = buffer;
      std::size_t out_left = sizeof buffer;
      const std::size_t result = iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left);
      const int error = errno;
      out.append(buffer, sizeof buffer - out_left);
      if (result == static_cast<std::size_t>(-1) && error != E2BIG) {
        converted = false;
        break;
      }
    }
    if (converted) {
      char buffer[64];
      char* out_ptr = buffer;
      std::size_t out_left = sizeof buffer;
      iconv(cd_, nullptr, nullptr, &out_ptr, &out_left);
      out.append(buffer, sizeof buffer - out_left);
    } else {
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    in = std::string_view(in_ptr, in_left);
    return converted;
  }

  // One UTF-16LE unit to at most two bytes; 0 when it has no character.
  std::size_t ConvertUnit(char16_t unit, unsigned char (&bytes)[2]) {
    char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    char out[8];
    char* in_ptr = in;
    std::size_t in_left = sizeof in;
    char* out_ptr = out;
    std::size_t out_left = sizeof out;
    const std::size_t result = iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    const std::size_t size = sizeof out - out_left;
    if (result == static_cast<std::size_t>(-1) || in_left != 0 || size == 0 || size > 2) return 0;
    bytes[0] = static_cast<unsigned char>(out[0]);
    bytes[1] = size == 2 ? static_cast<unsigned char>(out[1]) : 0;
    return size;
  }

 private:
  iconv_t cd_;
};

std::optional<std::string> ConvertStrictly(std::string_view text, const char* to, const char* from) {
  Iconv converter(to, from);
  if (!converter.ok()) return std::nullopt;
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  if (!converter.Convert(text, out)) return std::nullopt;
  return out;
}

std::unique_ptr<Cp932Table> BuildTable() {
  Iconv converter("CP932", "UTF-16LE");
  if (!converter.ok()) return nullptr;
  auto table = std::make_unique<Cp932Table>();
  for (std::uint32_t value = 0; value < 0x10000; ++value) {
    const auto unit = static_cast<char16_t>(value);
    std::uint16_t code = '?';
    unsigned char bytes[2];
    // A lone surrogate is no character; iconv would wait for its other half.
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    const std::size_t size = surrogate ? 0 : converter.ConvertUnit(unit, bytes);
    if (size == 1) {
      code = bytes[0];
    } else if (size == 2 && value >= 0x80) {
      // A seven-bit unit always gets one byte, so that a UTF-8 text never grows in conversion.
      code = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    }
    table->codes[value] = code;
  }
  table->ascii_is_itself = true;
  for (std::uint16_t value = 0; value < 0x80; ++value) {
    table->ascii_is_itself = table->ascii_is_itself && table->codes[value] == value;
  }
  return table;
}

// CP932 bytes to UTF-16: what iconv makes of each byte alone and of each pair after a lead byte.
// U+FFFF, which no CP932 byte means, marks a byte that is no character alone; U+0000, which no
// pair means, a pair without a character. A lead byte's pairs are converted the first time the
// byte is met: a few texts at start-up need only a few of them.
class Cp932Decoding {
 public:
  static constexpr char16_t kLead = 0xFFFF;
  using Row = std::array<char16_t, 0x100>;

  Cp932Decoding() : converter_("UTF-16LE", "CP932") {
    if (!converter_.ok()) return;
    std::string out;
    for (unsigned byte = 0; byte < 0x100; ++byte) {
      const char in_byte = static_cast<char>(byte);
      std::string_view in(&in_byte, 1);
      out.clear();
      single[byte] = converter_.Convert(in, out) && out.size() == 2 ? UnitAt(out, 0) : kLead;
    }
    ok = true;
  }

  // The pairs after `lead`, a byte whose `single` is kLead.
  const Row& Pairs(unsigned char lead) {
    if (const Row* row = rows_[lead].load(std::memory_order_acquire)) return *row;
    const std::lock_guard<std::mutex> hold(filling_);
    if (const Row* row = rows_[lead].load(std::memory_order_relaxed)) return *row;
    owned_[lead] = std::make_unique<const Row>(ConvertPairs(lead));
    rows_[lead].store(owned_[lead].get(), std::memory_order_release);
    return *owned_[lead];
  }

  std::array<char16_t, 0x100> single{};
  bool ok = false;

 private:
  // The UTF-16LE unit of two output bytes.
  static char16_t UnitAt(const std::string& utf16, std::size_t at) {
    return static_cast<char16_t>(static_cast<unsigned char>(utf16[at]) |
                                 static_cast<unsigned char>(utf16[at + 1]) << 8);
  }

  // Every pair after the byte, converted in one go up to each pair without a character. A byte
  // that is neither a character nor a lead byte gets no pair, so each of its bytes decodes as
  // U+FFFD.
  Row ConvertPairs(unsigned char lead) {
    Row row{};
    std::string pairs;
    for (unsigned trail = 0; trail < 0x100; ++trail) {
      pairs += static_cast<char>(lead);
      pairs += static_cast<char>(trail);
    }
    std::string out;
    std::string_view rest = pairs;
    for (unsigned trail = 0; trail < 0x100;) {
      std::string_view left = rest;
      out.clear();
      const bool whole = converter_.Convert(left, out);
      const std::size_t converted = (rest.size() - left.size()) / 2;
      if (out.size() != converted * 2) return Row{};  // not one unit per pair: no pairs
      for (std::size_t k = 0; k < converted; ++k) row[trail + k] = UnitAt(out, k * 2);
      trail += static_cast<unsigned>(converted);
      rest.remove_prefix(converted * 2);
      if (whole) break;
      ++trail;  // a pair without a character stays 0
      rest.remove_prefix(2);
    }
    return row;
  }

  Iconv converter_;  // used under `filling_` once the constructor is done
  std::mutex filling_;
  std::array<std::atomic<const Row*>, 0x100> rows_{};
  std::array<std::unique_ptr<const Row>, 0x100> owned_;
};

Cp932Decoding& Decoding() {
  static Cp932Decoding decoding;
  return decoding;
}

void AppendUtf8(std::string& out, char16_t unit) {
  if (unit < 0x80) {
    out += static_cast<char>(unit);
  } else if (unit < 0x800) {
    out += static_cast<char>(0xC0 | unit >> 6);
    out += static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | unit >> 12);
    out += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  }
}

// Decodes with the table, calling emit(unit, offset of the unit's first byte) for each unit. Without
// the table every byte but NUL is U+FFFD.
template <typename Emit>
void DecodeCp932(std::string_view sjis, Emit&& emit) {
  Cp932Decoding& decoding = Decoding();
  const auto* bytes = reinterpret_cast<const unsigned char*>(sjis.data());
  const std::size_t size = sjis.size();
  for (std::size_t i = 0; i < size; ++i) {
    if (!decoding.ok) {
      emit(bytes[i] == 0 ? char16_t{0} : char16_t{0xFFFD}, i);
      continue;
    }
    const char16_t unit = decoding.single[bytes[i]];
    if (unit != Cp932Decoding::kLead) {
      emit(unit, i);
      continue;
    }
    const char16_t pair = i + 1 < size ? decoding.Pairs(bytes[i])[bytes[i + 1]] : 0;
    if (pair != 0) {
      emit(pair, i);
      ++i;
    } else {
      // A lead byte without its trail: the next byte may start a character.
      emit(char16_t{0xFFFD}, i);
    }
  }
}

}  // namespace

std::u16string Cp932ToUtf16Lossy(std::string_view sjis, std::vector<std::uint32_t>* unit_starts) {
  std::u16string units;
  units.reserve(sjis.size());
  if (unit_starts != nullptr) unit_starts->reserve(unit_starts->size() + sjis.size());
  DecodeCp932(sjis, [&](char16_t unit, std::size_t at) {
    units += unit;
    if (unit_starts != nullptr) unit_starts->push_back(static_cast<std::uint32_t>(at));
  });
  return units;
}

const Cp932Table* Cp932Table::Get() {
  static const std::unique_ptr<Cp932Table> table = BuildTable();
  return table.get();
}

std::optional<std::string> Utf16ToCp932(std::u16string_view units) {
  const Cp932Table* table = Cp932Table::Get();
  if (table == nullptr) return std::nullopt;
  std::string out(units.size() * 2, '\0');
  char* end = out.data();
  for (char16_t unit : units) end = table->Put(unit, end);
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

std::string CodePointToCp932(char32_t code_point) {
  const Cp932Table* table = Cp932Table::Get();
  if (table == nullptr || code_point > 0xFFFF) return "?";
  char bytes[2];
  const char* end = table->Put(static_cast<char16_t>(code_point), bytes);
  return std::string(bytes, static_cast<std::size_t>(end - bytes));
}

std::optional<std::string> Cp932ToUtf8(std::string_view sjis) {
  return ConvertStrictly(sjis, "UTF-8", "CP932");
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
  return ConvertStrictly(utf8, "CP932", "UTF-8");
}

bool IsUtf8(std::string_view text) { return ConvertStrictly(text, "UTF-16LE", "UTF-8").has_value(); }

std::size_t Cp932ToUtf16Lossy(std::string_view sjis, char16_t* out) {
  char16_t* const start = out;
  DecodeCp932(sjis, [&out](char16_t unit, std::size_t) { *out++ = unit; });
  return static_cast<std::size_t>(out - start);
}

std::string Cp932ToUtf8Lossy(std::string_view sjis) {
  std::string out;
  out.reserve(sjis.size() + sjis.size() / 2);
  DecodeCp932(sjis, [&out](char16_t unit, std::size_t) { AppendUtf8(out, unit); });
  return out;
}

std::string Sjis(std::string_view utf8) {
  auto sjis = Utf8ToCp932(utf8);
  if (!sjis) throw std::logic_error("a text of the program that CP932 cannot hold: " + std::string(utf8));
  return std::move(*sjis);
}

}  // namespace korinbo
