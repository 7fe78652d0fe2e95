// Interpreter objects made once per process (see process_objects.h).
#include "module/process_objects.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "module/detached.h"
#include "module/fatal.h"
#include "module/py_calls.h"

namespace velmar::module {
namespace {

// The qualified name the last-resort exception type is created under: its __module__ is
// "tessiv_runtime", the name of this native runtime layer rather than of the extension
// that loads it, and its __name__ "PanicException". Callers match on the two (or on the
// text in a traceback), so the name is part of the module's interface and must not change.
constexpr const char* kPanicTypeName = "tessiv_runtime.PanicException";
constexpr const char* kPanicTypeDoc =
    "Raised when native code called from Python fails internally.\n\n"
    "Like SystemExit, it derives from BaseException, not Exception, so that it typically\n"
    "propagates all the way up the stack and makes the interpreter exit.";

// Runs a creation once per process. The creating thread holds the interpreter lock; a
// thread that finds the creation under way releases the lock while it waits, since the
// creator may need the lock to finish (PyPy switches threads inside Python code), and
// waiting with it held could deadlock. Constant-initialised, so usable from static
// storage without a guard of its own.
class OnceGuard {
 public:
  template <typename Create>
  void run(Create&& create) {
    if (done_.load(std::memory_order_acquire)) return;
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
      Detached waiting;
      lock.lock();
    }
    if (done_.load(std::memory_order_relaxed)) return;
    create();
    done_.store(true, std::memory_order_release);
  }
  bool done() const { return done_.load(std::memory_order_acquire); }

 private:
  std::mutex mutex_;
  std::atomic<bool> done_{false};
};

// An interpreter object made once and kept for the life of the process (never released,
// so it is held as a plain pointer rather than by an owner that would release it).
struct ProcessObject {
  OnceGuard guard;
  PyObject* object = nullptr;

  PyObject* peek() const { return guard.done() ? object : nullptr; }
};

constinit ProcessObject g_panic_type;
constinit ProcessObject g_names[static_cast<std::size_t>(Name::kDunderAll) + 1];

std::string_view name_text(Name name) {
  switch (name) {
    case Name::kAddNote:
      return "add_note";
    case Name::kDunderName:
      return "__name__";
    case Name::kDunderAll:
      return "__all__";
  }
  return {};
}

[[noreturn]] void report_panic_type_failure() {
  std::fputs("Failed to initialize new exception type.\n", stderr);
  if (PyErr_Occurred() != nullptr) PyErr_PrintEx(0);
  abort_after_report();
}

}  // namespace

PyObject* panic_exception_type() {
  g_panic_type.guard.run([] {
    PyObject* type =
        PyErr_NewExceptionWithDoc(kPanicTypeName, kPanicTypeDoc, PyExc_BaseException, nullptr);
    if (type == nullptr) report_panic_type_failure();
    g_panic_type.object = type;
  });
  return g_panic_type.object;
}

PyObject* panic_exception_type_if_made() { return g_panic_type.peek(); }

PyObject* intern(Name name) {
  ProcessObject& slot = g_names[static_cast<std::size_t>(name)];
  slot.guard.run([&] {
    PyObject* text = new_text(name_text(name)).release();
    PyUnicode_InternInPlace(&text);
    slot.object = text;
  });
  return slot.object;
}

}  // namespace velmar::module
