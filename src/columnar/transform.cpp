// columnarize_json: read the payload and derive the document in one pass (every element
// must be an object), then write it. All of it lives in one arena that dies with the call;
// how large its blocks are and which pages stay resident is json/pages.h's.
#include <cstring>
#include <string>
#include <utility>

#include "columnar/columnar.h"
#include "json/arena.h"
#include "json/pages.h"
#include "json/writer.h"

namespace velmar::columnar {

TransformResult columnarize_json(json::PaddedView payload) {
  namespace pages = json::pages;
  std::string text;
  if (auto reservation = pages::result_reservation(payload.size())) {
    json::reserve_text(text, *reservation);  // before the arena's block, so below it
  }
  json::Arena arena(pages::first_block_for(payload.size()));
  DeriveResult document = read_and_derive(arena, payload, memory_available);
  if (!document.ok()) return std::move(document).error();
  // The tree is whole: its last huge page's spare room need not be resident at the peak.
  if (pages::releases_spare_pages(payload.size())) arena.release_spare_pages();
  document.value().write_text(text, payload.size());
  return text;
}

TransformResult columnarize_json(std::string_view payload) {
  return columnarize_json(json::PaddedText::copy_of(payload).view());
}

json::PaddedText copy_payload(std::string_view payload) {
  json::PaddedText copy = json::PaddedText::with_size(payload.size());
  if (payload.empty()) return copy;
  json::pages::advise_huge_pages(copy.data(), payload.size());
  std::memcpy(copy.data(), payload.data(), payload.size());
  return copy;
}

}  // namespace velmar::columnar
