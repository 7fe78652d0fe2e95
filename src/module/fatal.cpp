// Failure texts and the last-resort reports.
#include "module/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace velmar::module {

std::string failure_text(const std::exception_ptr& failure, std::string_view fallback) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    report_out_of_memory();
  } catch (const std::exception& e) {
    return e.what();
  } catch (const std::string& text) {
    return text;
  } catch (std::string_view text) {
    return std::string(text);
  } catch (const char* text) {
    return text != nullptr ? std::string(text) : std::string(fallback);
  } catch (...) {
    return std::string(fallback);
  }
}

void abort_with_report(std::string_view failure, std::string_view guard) noexcept {
  std::fprintf(stderr, "%.*s\n%.*s\n", static_cast<int>(failure.size()), failure.data(),
               static_cast<int>(guard.size()), guard.data());
  std::fflush(stderr);
  std::abort();
}

void report_out_of_memory() noexcept {
  std::fputs("memory allocation failed\n", stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace velmar::module
