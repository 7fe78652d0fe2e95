// The building blocks of the generated payloads: cells, decimals and their written form, the
// document that assembles a payload with its expected result, and the small helpers.
#include "payload_builder.h"

#include <cstdlib>
#include <utility>

namespace velmar::bench::gen {

// MARK: cells ------------------------------------------------------------------------------

Cell same(std::string text) { return Cell{text, text}; }

std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

Cell plain_string(std::string_view text) { return StringCell().add(text).cell(); }

std::string unicode_escaped(std::string_view utf8, bool upper) {
  const char* hex = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  auto unit = [&](std::string& out, std::uint32_t u) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += hex[(u >> shift) & 0xF];
  };
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += utf8[i++];
      continue;
    }
    const int len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    std::uint32_t cp = b & (0x7Fu >> len);
    for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += static_cast<std::size_t>(len);
    if (cp >= 0x10000) {
      unit(out, 0xD800 + ((cp - 0x10000) >> 10));
      unit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(out, cp);
    }
  }
  return out;
}

// MARK: decimals ---------------------------------------------------------------------------

namespace {

// The writer's four layouts, by the power of ten u of the first digit of n digits.
std::string canonical_text(Decimal d) {
  const std::string sign = d.negative ? "-" : "";
  if (d.sig == 0) return sign + "0.0";
  while (d.sig % 10 == 0) {
    d.sig /= 10;
    ++d.exp;
  }
  const std::string digits = std::to_string(d.sig);
  const int n = static_cast<int>(digits.size());
  const int u = d.exp + n - 1;
  if (u < -5 || u > 15) {  // 15e-8 -> 1.5e-7, 602214076e15 -> 6.02214076e+23
    std::string out = sign + digits[0];
    if (n > 1) out.append(".").append(digits, 1);
    return out + "e" + (u < 0 ? "-" : "+") + std::to_string(std::abs(u));
  }
  if (u < 0) return sign + "0." + std::string(static_cast<std::size_t>(-u - 1), '0') + digits;
  if (u < n - 1) {  // 12345e-2 -> 123.45
    return sign + digits.substr(0, static_cast<std::size_t>(u + 1)) + "." +
           digits.substr(static_cast<std::size_t>(u + 1));
  }
  return sign + digits + std::string(static_cast<std::size_t>(u - (n - 1)), '0') + ".0";
}

// The payload text of `d`, always with a point or an exponent so that it reads as a double.
std::string input_text(Decimal d, Spelling spelling) {
  const std::string sign = d.negative ? "-" : "";
  const std::string digits = std::to_string(d.sig);
  const int n = static_cast<int>(digits.size());
  switch (spelling) {
    case Spelling::kFixed:
    case Spelling::kPadded: {
      std::string out;
      if (d.exp >= 0) {
        out = digits + std::string(static_cast<std::size_t>(d.exp), '0') + ".0";
      } else if (-d.exp >= n) {
        out = "0." + std::string(static_cast<std::size_t>(-d.exp - n), '0') + digits;
      } else {
        const auto point = static_cast<std::size_t>(n + d.exp);
        out = digits.substr(0, point) + "." + digits.substr(point);
      }
      if (spelling == Spelling::kPadded) out += "00";
      return sign + out;
    }
    case Spelling::kExponent: {
      std::string out = sign + digits[0];
      if (n > 1) out.append(".").append(digits, 1);
      return out + "e" + std::to_string(d.exp + n - 1);
    }
    case Spelling::kIntegerExp:
      return sign + digits + "E" + (d.exp >= 0 ? "+" : "") + std::to_string(d.exp);
  }
  return {};
}

}  // namespace

Cell decimal(Decimal d, Spelling spelling) {
  return Cell{input_text(d, spelling), canonical_text(d)};
}

// MARK: documents --------------------------------------------------------------------------

void DocumentBuilder::add_row(std::vector<Member> members, std::string_view row_text) {
  if (!rows_.empty()) payload_ += separator_;
  payload_ += row_text;
  for (const Member& m : members) {
    bool seen = false;
    for (std::string_view c : order_) seen = seen || c == m.column;
    if (!seen) order_.push_back(m.column);
  }
  rows_.push_back(std::move(members));
}

GeneratedPayload DocumentBuilder::finish() const {
  std::vector<std::string_view> varying;
  std::vector<std::string_view> constant;
  for (std::string_view c : order_) {
    switch (kind_of(c)) {
      case Kind::kVarying:
        varying.push_back(c);
        break;
      case Kind::kConstant:
        // With one row nothing is constant.
        (rows_.size() >= 2 ? constant : varying).push_back(c);
        break;
      case Kind::kAllNull:
        break;
    }
  }
  std::string out = "{\"columns\":[";
  for (std::size_t c = 0; c < varying.size(); ++c) {
    out += (c ? ",\"" : "\"") + std::string(varying[c]) + "\"";
  }
  out += "],\"rows\":[";
  for (std::size_t r = 0; r < rows_.size(); ++r) {
    out += r ? ",[" : "[";
    for (std::size_t c = 0; c < varying.size(); ++c) {
      if (c) out += ",";
      const Cell* cell = find(rows_[r], varying[c]);
      out += cell ? cell->canonical : "null";
    }
    out += "]";
  }
  out += "],\"constants\":{";
  for (std::size_t c = 0; c < constant.size(); ++c) {
    out += (c ? ",\"" : "\"") + std::string(constant[c]) +
           "\":" + find(rows_[0], constant[c])->canonical;
  }
  out += "}}";
  return GeneratedPayload{"[" + payload_ + "]\n", std::move(out), rows_.size()};
}

Kind DocumentBuilder::kind_of(std::string_view column) const {
  for (const ColumnClass& c : classes_) {
    if (c.name == column) return c.kind;
  }
  // A column the class table leaves out is taken to vary; a wrong guess shows as a failed
  // check in every benchmark that uses the payload.
  return Kind::kVarying;
}

const Cell* DocumentBuilder::find(const std::vector<Member>& row, std::string_view column) {
  for (const Member& m : row) {
    if (m.column == column) return &m.cell;
  }
  return nullptr;
}

std::string object_text(const std::vector<Member>& members, bool pretty) {
  std::string out = pretty ? "{\n" : "{";
  for (std::size_t m = 0; m < members.size(); ++m) {
    if (m) out += pretty ? ",\n" : ",";
    if (pretty) out += "    ";
    out += cat({"\"", members[m].column, pretty ? "\": " : "\":"});
    out += members[m].cell.input;
  }
  return out + (pretty ? "\n  }" : "}");
}

// MARK: vocabulary -------------------------------------------------------------------------

std::string padded(std::uint64_t v, std::size_t width) {
  std::string s = std::to_string(v);
  return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

std::string timestamp(Rng& rng) {
  return std::to_string(2010 + rng.below(15)) + "-" + padded(1 + rng.below(12), 2) + "-" +
         padded(1 + rng.below(28), 2) + "T" + padded(rng.below(24), 2) + ":" +
         padded(rng.below(60), 2) + ":" + padded(rng.below(60), 2) + "Z";
}

}  // namespace velmar::bench::gen
