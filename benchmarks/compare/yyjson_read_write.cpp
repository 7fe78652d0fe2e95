// yyjson's read and minified write, for the transform benchmark, and its write and read of
// an array of doubles, for the writer and reader benchmarks; built only when yyjson's
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

struct YyjsonDoubleArray {
  yyjson_mut_doc* doc;
};

YyjsonDoubleArray* yyjson_double_array(std::span<const double> values) {
  yyjson_mut_doc* doc = yyjson_mut_doc_new(nullptr);
  if (doc == nullptr) return nullptr;
  yyjson_mut_val* root = yyjson_mut_arr(doc);
  bool built = root != nullptr;
  for (const double v : values) built = built && yyjson_mut_arr_add_real(doc, root, v);
  if (!built) {
    yyjson_mut_doc_free(doc);
    return nullptr;
  }
  yyjson_mut_doc_set_root(doc, root);
  return new YyjsonDoubleArray{doc};
}

void yyjson_free(YyjsonDoubleArray* array) {
  if (array == nullptr) return;
  yyjson_mut_doc_free(array->doc);
  delete array;
}

std::optional<std::size_t> yyjson_write_doubles(const YyjsonDoubleArray& array, std::string* text) {
  std::size_t size = 0;
  char* written = yyjson_mut_write_opts(array.doc, 0, nullptr, &size, nullptr);
  if (written == nullptr) return std::nullopt;
  if (text != nullptr) text->assign(written, size);
  std::free(written);
  return size;
}

std::optional<std::size_t> yyjson_read_count(std::string_view text) {
  yyjson_doc* doc =
      yyjson_read_opts(const_cast<char*>(text.data()), text.size(), 0, nullptr, nullptr);
  if (doc == nullptr) return std::nullopt;
  const std::size_t count = yyjson_doc_get_val_count(doc);
  yyjson_doc_free(doc);
  return count;
}

}  // namespace velmar::bench
