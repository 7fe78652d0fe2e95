// Generated payloads: the shapes of rows the transform meets, each made of cells that carry
// both the text written into the payload and the text the result must hold
// (payload_builder.h), and the registry of the payloads by name.
#include "payloads.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "payload_builder.h"

namespace velmar::bench {
namespace gen {
namespace {

// MARK: payload shapes ---------------------------------------------------------------------

// A tool call's rows: order lines, pretty-printed, with a note that some rows leave out, a
// nested shipment whose event list is still empty, an array of string tags, and a member
// named in Japanese (the delivery slot).
constexpr std::string_view kSlotColumn = "\xE9\x85\x8D\xE9\x81\x94";
constexpr ColumnClass kCallColumns[] = {
    {"order", Kind::kVarying},     {"qty", Kind::kVarying},    {"price", Kind::kVarying},
    {"currency", Kind::kConstant}, {"status", Kind::kVarying}, {"note", Kind::kVarying},
    {"refund", Kind::kAllNull},    {"ship", Kind::kVarying},   {"tags", Kind::kVarying},
    {kSlotColumn, Kind::kVarying},
};

GeneratedPayload call_rows(std::size_t rows) {
  DocumentBuilder doc(kCallColumns, ",\n  ");
  constexpr std::array<std::string_view, 3> kStatus = {"pending", "shipped", "delivered"};
  constexpr std::array<std::string_view, 3> kCarriers = {"DHL", "UPS", "La Poste"};
  constexpr std::array<std::string_view, 3> kTags = {"[]", R"(["gift"])", R"(["fragile","gift"])"};
  // Morning, afternoon, evening in Japanese.
  constexpr std::array<std::string_view, 3> kSlots = {"\xE5\x8D\x88\xE5\x89\x8D",
                                                      "\xE5\x8D\x88\xE5\xBE\x8C", "\xE5\xA4\x9C"};
  for (std::size_t r = 0; r < rows; ++r) {
    Rng rng(r, 1);
    std::vector<Member> row = {
        {"order", plain_string("ORD-" + padded(40000 + r, 6))},
        {"qty", same(std::to_string(1 + rng.below(12)))},
        {"price", decimal({false, 99 + rng.below(99900), -2}, Spelling::kFixed)},
        {"currency", plain_string("EUR")},
        {"status", plain_string(kStatus[r % kStatus.size()])},
    };
    if (r % 4 != 0)
      row.push_back({"note", plain_string(r % 4 == 1 ? "gift wrap" : "leave at door")});
    row.push_back({"refund", same("null")});
    row.push_back({"ship", same(cat({R"({"via":")", rng.pick(kCarriers), R"(","events":[]})"}))});
    row.push_back({"tags", same(std::string(kTags[r % kTags.size()]))});
    row.push_back({kSlotColumn, plain_string(rng.pick(kSlots))});
    doc.add_row(row, object_text(row, true));
  }
  // The brackets on lines of their own.
  GeneratedPayload out = doc.finish();
  const std::string_view rows_text =
      std::string_view(out.payload).substr(1, out.payload.size() - 3);
  out.payload = cat({"[\n  ", rows_text, "\n]\n"});
  return out;
}

// An API listing of user accounts: ids, names in several scripts, an email, a float score,
// dates, a member missing in some rows, a nested object whose member order changes (still
// one constant), [1] against [1.0] (a varying column), 2 == 2.0 == 2e0 (a constant), a
// column that is always null, and settings under a French member name, a nested object
// with a list that is nearly always empty.
constexpr std::string_view kSettingsColumn = "param\xC3\xA8tres";
constexpr ColumnClass kListingColumns[] = {
    {"id", Kind::kVarying},       {"login", Kind::kVarying},      {"name", Kind::kVarying},
    {"email", Kind::kVarying},    {"type", Kind::kConstant},      {"site_admin", Kind::kVarying},
    {"score", Kind::kVarying},    {"followers", Kind::kVarying},  {"created_at", Kind::kVarying},
    {"location", Kind::kVarying}, {"company", Kind::kVarying},    {"bio", Kind::kVarying},
    {"plan", Kind::kConstant},    {"schema", Kind::kVarying},     {"api_version", Kind::kConstant},
    {"tags", Kind::kVarying},     {"deleted_at", Kind::kAllNull}, {kSettingsColumn, Kind::kVarying},
};

GeneratedPayload listing_rows(std::size_t rows) {
  DocumentBuilder doc(kListingColumns, ",");
  constexpr std::array<std::string_view, 3> kVersions = {"2", "2.0", "2e0"};
  for (std::size_t r = 0; r < rows; ++r) {
    Rng rng(r, 2);
    const std::string login = "user_" + std::to_string(r);
    const std::string_view lang = rng.pick(kLanguages);
    StringCell bio;
    bio.add("Building things with ").add(lang).add(" since " + std::to_string(2000 + r % 24) + ".");
    if (r % 7 == 0) bio.add(" Says \\\"hi\\\"\\nand waves.");
    if (r % 11 == 0) bio.add(" Path: C:\\\\src\\\\app");
    const Cell plan = r % 2 == 0
                          ? Cell{R"({"name":"free","space":976562499,"private_repos":10000})",
                                 R"({"name":"free","space":976562499,"private_repos":10000})"}
                          : Cell{R"({"private_repos":10000,"name":"free","space":976562499})",
                                 R"({"private_repos":10000,"name":"free","space":976562499})"};
    std::string tags = "[\"" + std::string(lang) + "\"";
    for (std::uint64_t t = rng.below(3); t > 0; --t)
      tags += ",\"" + std::string(rng.pick(kLanguages)) + "\"";
    tags += "]";
    std::vector<Member> row = {
        {"id", same(std::to_string(1000000 + r * 7))},
        {"login", plain_string(login)},
        {"name", plain_string(rng.pick(kNames))},
        {"email", plain_string(login + "@example.com")},
        {"type", plain_string("User")},
        {"site_admin", same(r % 7 == 1 ? "true" : "false")},
        {"score", decimal({false, 1 + (r * 37 + rng.below(100)) % 10000, -2}, Spelling::kFixed)},
        {"followers", same(std::to_string(rng.below(100000)))},
        {"created_at", plain_string(timestamp(rng))},
    };
    if (r % 5 != 0) row.push_back({"location", plain_string(rng.pick(kCities))});
    row.push_back({"company", r % 3 == 0
                                  ? same("null")
                                  : plain_string("Company " + std::to_string(rng.below(500)))});
    row.push_back({"bio", bio.cell()});
    row.push_back({"plan", plan});
    row.push_back({"schema", same(r % 4 == 1 ? "[1.0]" : "[1]")});
    row.push_back({"api_version", Cell{std::string(kVersions[r % kVersions.size()]), "2"}});
    row.push_back({"tags", same(tags)});
    row.push_back({"deleted_at", same("null")});
    row.push_back(
        {kSettingsColumn, same(cat({R"({"lang":")", r % 3 ? "fr" : "en",
                                    r % 50 ? R"(","muted":[]})" : R"(","muted":[7]})"}))});
    doc.add_row(row, object_text(row, false));
  }
  // The row-0 text of the constants is what the result keeps.
  return doc.finish();
}

// Number-heavy rows: timestamps, coordinates and prices as decimals spelled in several ways,
// small ratios and tiny and huge magnitudes that the writer puts in exponent form, 64-bit
// extremes, a constant spelled 3, 3.0, 30e-1 and 0.3E1, a constant of 0.0, -0.0 and 0, and
// a column of 2^53 + 1 against 2^53 (which differ, so it varies).
constexpr ColumnClass kNumberColumns[] = {
    {"id", Kind::kVarying},       {"ts", Kind::kVarying},      {"lat", Kind::kVarying},
    {"lng", Kind::kVarying},      {"price", Kind::kVarying},   {"qty", Kind::kVarying},
    {"ratio", Kind::kVarying},    {"tiny", Kind::kVarying},    {"huge", Kind::kVarying},
    {"whole", Kind::kVarying},    {"big", Kind::kVarying},     {"neg", Kind::kVarying},
    {"version", Kind::kConstant}, {"offset", Kind::kConstant}, {"edge", Kind::kVarying},
    {"limits", Kind::kConstant},  {"scores", Kind::kVarying},
};

Spelling any_spelling(Rng& rng) { return static_cast<Spelling>(rng.below(4)); }

GeneratedPayload number_rows(std::size_t rows) {
  DocumentBuilder doc(kNumberColumns, ",\n");
  constexpr std::array<std::string_view, 4> kThree = {"3", "3.0", "30e-1", "0.3E1"};
  constexpr std::array<std::string_view, 4> kZero = {"0.0", "-0.0", "0", "0e5"};
  for (std::size_t r = 0; r < rows; ++r) {
    Rng rng(r, 3);
    const Decimal lat{rng.below(2) == 0, rng.below(90000000), -6};
    const Decimal lng{rng.below(2) == 0, rng.below(180000000), -6};
    const Decimal ratio{false, 1 + rng.below(99999), -7};
    const Decimal tiny{rng.below(2) == 0, 1 + rng.below(9999), -9 - static_cast<int>(rng.below(6))};
    const Decimal huge{false, 100000000 + rng.below(900000000),
                       12 + static_cast<int>(rng.below(11))};
    const Decimal whole{false, 1 + rng.below(99999), 0};
    Cell scores{"[", "["};
    for (int k = 0; k < 3; ++k) {
      const Decimal s{rng.below(5) == 0, rng.below(100000), -3};
      const Cell c = decimal(s, s.sig == 0 ? Spelling::kFixed : any_spelling(rng));
      scores.input += (k ? "," : "") + c.input;
      scores.canonical += (k ? "," : "") + c.canonical;
    }
    scores.input += "]";
    scores.canonical += "]";
    std::vector<Member> row = {
        {"id", same(std::to_string(r))},
        {"ts", same(std::to_string(1700000000000 + r * 1003))},
        {"lat", decimal(lat, lat.sig % 10 == 0 ? Spelling::kFixed : Spelling::kPadded)},
        {"lng", decimal(lng, Spelling::kFixed)},
        {"price",
         decimal({false, rng.below(1000000), -2}, r % 2 ? Spelling::kPadded : Spelling::kFixed)},
        {"qty", same(std::to_string(static_cast<std::int64_t>(rng.below(101)) - 50))},
        {"ratio", decimal(ratio, any_spelling(rng))},
        {"tiny", decimal(tiny, rng.below(2) ? Spelling::kExponent : Spelling::kIntegerExp)},
        {"huge", decimal(huge, rng.below(2) ? Spelling::kExponent : Spelling::kIntegerExp)},
        {"whole", decimal(whole, any_spelling(rng))},
        {"big", same(std::to_string(UINT64_MAX - r * 7919))},
        {"neg", same(cat({"-", std::to_string(r * 104729 + 1)}))},
        {"version", Cell{std::string(kThree[r % kThree.size()]), "3"}},
        {"offset", Cell{std::string(kZero[r % kZero.size()]), "0.0"}},
        {"edge", r % 2 == 0 ? same("9007199254740993")
                            : Cell{"9.007199254740992e15", "9007199254740992.0"}},
        {"limits", Cell{"[18446744073709551615,-9223372036854775808,0.5E-9,1e22,true]",
                        "[18446744073709551615,-9223372036854775808,5e-10,1e+22,true]"}},
        {"scores", scores},
    };
    doc.add_row(row, object_text(row, false));
  }
  return doc.finish();
}

// Pieces of string text: the payload spelling and the written form. The writer escapes only
// the 32 control bytes, the double quote and the backslash (\b \f \n \r \t by letter, the
// rest as \u00xx in lowercase hex) and writes every other character as raw UTF-8.
struct Piece {
  std::string_view input;
  std::string_view canonical;
};
constexpr std::array<Piece, 24> kPieces = {{
    {"The quick brown fox jumps over the lazy dog. ",
     "The quick brown fox jumps over the lazy dog. "},
    {"He said \\\"hello\\\" twice. ", "He said \\\"hello\\\" twice. "},
    {"C:\\\\Users\\\\dev ", "C:\\\\Users\\\\dev "},
    {"line one\\nline two ", "line one\\nline two "},
    {"col\\tcol\\r\\n", "col\\tcol\\r\\n"},
    {"a\\/b\\/c ", "a/b/c "},
    {"caf\\u00e9 ", "caf\xC3\xA9 "},
    {"caf\xC3\xA9 cr\xC3\xA8me ", "caf\xC3\xA9 cr\xC3\xA8me "},
    {"\\u00C9t\\u00E9 ", "\xC3\x89t\xC3\xA9 "},
    {"\\ud83d\\ude00 ", "\xF0\x9F\x98\x80 "},
    {"\xF0\x9F\x9A\x80 launch ", "\xF0\x9F\x9A\x80 launch "},
    {"\\u0001\\u001F", "\\u0001\\u001f"},
    {"\\u0008\\f\\u000a", "\\b\\f\\n"},
    {"nul\\u0000byte ", "nul\\u0000byte "},
    {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80! ",
     "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80! "},
    {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83"
     "\x88 ",
     "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83"
     "\x88 "},
    {"\\u65e5\\u672c ", "\xE6\x97\xA5\xE6\x9C\xAC "},
    {"\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 ", "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 "},
    {"\\u03a9\\u03BC ", "\xCE\xA9\xCE\xBC "},
    {"sep\xE2\x80\xA8"
     "ara\\u2028tor ",
     "sep\xE2\x80\xA8"
     "ara\xE2\x80\xA8tor "},
    {"\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85 ", "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85 "},
    {"50\\u0025 off ", "50% off "},
    {"tab\\tseparated\\tvalues ", "tab\\tseparated\\tvalues "},
    {"plain ASCII words of an ordinary sentence ", "plain ASCII words of an ordinary sentence "},
}};

Cell text_of(Rng& rng, std::size_t pieces) {
  StringCell cell;
  for (std::size_t k = 0; k < pieces; ++k) {
    const Piece& piece = rng.pick(kPieces);
    cell.add(piece.input, piece.canonical);
  }
  return cell.cell();
}

// String-heavy rows: titles and bodies made of escaped and raw pieces, a name in \u escapes
// and the same name raw inside a nested object, tags in escapes, a constant language tag.
constexpr ColumnClass kStringColumns[] = {
    {"id", Kind::kVarying},   {"lang", Kind::kConstant},        {"title", Kind::kVarying},
    {"body", Kind::kVarying}, {"name_escaped", Kind::kVarying}, {"author", Kind::kVarying},
    {"tags", Kind::kVarying}, {"summary", Kind::kVarying},
};

GeneratedPayload string_rows(std::size_t rows) {
  DocumentBuilder doc(kStringColumns, ",\n");
  for (std::size_t r = 0; r < rows; ++r) {
    Rng rng(r, 4);
    const std::string_view name = rng.pick(kNames);
    const std::string_view city = rng.pick(kCities);
    const bool upper = r % 2 == 1;
    const std::string author =
        "{\"name\":\"" + std::string(name) + "\",\"city\":\"" + std::string(city) + "\"}";
    const std::string tags_raw = "[\"" + std::string(city) + "\",\"" + std::string(name) + "\"]";
    std::vector<Member> row = {
        {"id", same(std::to_string(r))},
        {"lang", plain_string("und")},
        {"title", text_of(rng, 2 + rng.below(3))},
        {"body", text_of(rng, 8 + rng.below(12))},
        {"name_escaped",
         Cell{cat({"\"", unicode_escaped(name, upper), "\""}), cat({"\"", name, "\""})}},
        {"author", Cell{unicode_escaped(author, !upper), author}},
        {"tags", Cell{unicode_escaped(tags_raw, upper), tags_raw}},
        {"summary", text_of(rng, 1 + rng.below(4))},
    };
    doc.add_row(row, object_text(row, false));
  }
  return doc.finish();
}

// MARK: full-precision doubles -------------------------------------------------------------

// A double of random significand whose power of two is drawn from [lo, hi], either sign.
double random_double(Rng& rng, int lo, int hi) {
  const auto exponent = static_cast<std::uint64_t>(
      1023 + lo + static_cast<int>(rng.below(static_cast<std::uint64_t>(hi - lo + 1))));
  const std::uint64_t bits = (rng.next() & 0x800FFFFFFFFFFFFFULL) | exponent << 52;
  return std::bit_cast<double>(bits);
}

// A double as computed values print, with 17 significant digits: 1.3175761720874414e-06. A
// text that would read back as an integer is drawn again.
std::string full_precision(Rng& rng, int lo, int hi) {
  for (;;) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.17g", random_double(rng, lo, hi));
    const std::string_view out(text.data());
    if (out.find_first_of(".e") != std::string_view::npos) return std::string(out);
  }
}

// Rows of measurements: 17-digit doubles of small, ordinary and extreme magnitudes, integers
// past 2^60 and large negative ones, a constant unit, and every eighth row a series of 96
// doubles. Most such texts name a double only to within their last digit, and the reader's
// scaling rounds some of them to the neighbouring double, whose shortest digits are written:
// the expected result is the reference derivation's, which reads them by the same rule.
GeneratedPayload double_rows(std::size_t rows) {
  std::string payload = "[";
  for (std::size_t r = 0; r < rows; ++r) {
    Rng rng(r, 5);
    payload +=
        cat({r ? ",\n{" : "{", R"("id":)", std::to_string(r), R"(,"ts":)",
             std::to_string(1700000000000000000 + r * 999983), R"(,"delta":)",
             std::to_string(-static_cast<std::int64_t>(rng.next() >> (1 + r % 40))), R"(,"x":)",
             full_precision(rng, -20, -1), R"(,"y":)", full_precision(rng, 0, 30), R"(,"z":)",
             full_precision(rng, -1020, 1020), R"(,"unit":"m/s")"});
    if (r % 8 == 0) {
      payload += R"(,"series":[)";
      for (int k = 0; k < 96; ++k) payload += cat({k ? "," : "", full_precision(rng, -30, 30)});
      payload += "]";
    }
    payload += "}";
  }
  return GeneratedPayload{payload + "]\n", "", rows};
}

struct Shape {
  std::string_view name;
  GeneratedPayload (*make)(std::size_t rows);
  std::size_t rows;
};

constexpr Shape kShapes[] = {
    {"gen_call_20", call_rows, 20},
    {"gen_listing_1000", listing_rows, 1000},
    {"gen_listing_100000", listing_rows, 100000},
    {"gen_numbers_20000", number_rows, 20000},
    {"gen_strings_5000", string_rows, 5000},
    {"gen_doubles_5000", double_rows, 5000},
};

constexpr std::array<std::string_view, std::size(kShapes)> kShapeNames = [] {
  std::array<std::string_view, std::size(kShapes)> names{};
  for (std::size_t k = 0; k < names.size(); ++k) names[k] = kShapes[k].name;
  return names;
}();

}  // namespace
}  // namespace gen

std::span<const std::string_view> generated_payload_names() { return gen::kShapeNames; }

std::optional<GeneratedPayload> generate_payload(std::string_view name) {
  for (const gen::Shape& shape : gen::kShapes) {
    if (shape.name == name) return shape.make(shape.rows);
  }
  return std::nullopt;
}

}  // namespace velmar::bench
