// yyjson's read and minified write, for the transform benchmark; built only when yyjson's
// sources are found.
#include <yyjson.h>

#include <cstdlib>

#include "json_anchors.h"

namespace velmar::bench {

std::optional<std::size_t> yyjson_read_write(std::string_view payload, std::string* text) {
  // Without YYJSON_READ_INSITU yyjson only reads the buffer; its signature is shared with
  // the in-place mode, hence the cast.
  yyjson_doc* doc =
      yyjson_read_opts(const_cast<char*>(payload.data()), payload.size(), 0, nullptr, nullptr);
  if (doc == nullptr) return std::nullopt;
  std::size_t size = 0;
  char* written = yyjson_write_opts(doc, 0, nullptr, &size, nullptr);
  yyjson_doc_free(doc);
  if (written == nullptr) return std::nullopt;
  if (text != nullptr) text->assign(written, size);
  std::free(written);
  return size;
}

}  // namespace velmar::bench
