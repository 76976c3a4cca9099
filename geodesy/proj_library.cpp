#include "geodesy/proj_library.h"

#include <cstddef>
#include <memory>
#include <new>

#include "geodesy/proj_operation.h"

#ifndef QUORVANE_PROJ_LINKED
#include <dlfcn.h>
#endif

namespace Quorvane {

namespace {

std::string& DataFolder() {
  static std::string folder;
  return folder;
}

struct Loaded {
  ProjLibrary library;
  std::string problem;  // empty when `library` is usable
};

// Fills the function table: straight from the linked library, or by name from the shared object
// the build found (its soname, so that the package's libproj is the one loaded).
bool Bind(ProjLibrary& library, std::string& problem) {
#ifdef QUORVANE_PROJ_LINKED
#define QUORVANE_PROJ_BIND(name) library.name = &::name;
  QUORVANE_PROJ_FUNCTIONS(QUORVANE_PROJ_BIND)
#undef QUORVANE_PROJ_BIND
  (void)problem;
  return true;
#else
  // Loaded for good: PROJ's objects live until the process ends.
  void* handle = dlopen(QUORVANE_PROJ_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    problem = std::string("PROJ could not be loaded (") + (why ? why : QUORVANE_PROJ_SONAME) +
              "); install PROJ's library, libproj";
    return false;
  }
#define QUORVANE_PROJ_BIND(name)                                                         \
  library.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));              \
  if (library.name == nullptr) {                                                         \
    problem = std::string("PROJ's library " QUORVANE_PROJ_SONAME " lacks ") + #name +     \
              "; it is older than the PROJ " + std::to_string(PROJ_VERSION_MAJOR) + "." + \
              std::to_string(PROJ_VERSION_MINOR) + " the tool was built with";           \
    return false;                                                                        \
  }
  QUORVANE_PROJ_FUNCTIONS(QUORVANE_PROJ_BIND)
#undef QUORVANE_PROJ_BIND
  return true;
#endif
}

Loaded Load() {
  Loaded loaded;
  ProjLibrary& library = loaded.library;
  // Neither libproj's mapping nor a context failing for want of memory means PROJ is missing;
  // thrown, the load is tried again by the next call.
  if (!Bind(library, loaded.problem)) {
    if (OutOfMemoryNow()) throw std::bad_alloc();
    return loaded;
  }
  library.context = library.proj_context_create();
  if (library.context == nullptr) {
    if (OutOfMemoryNow()) throw std::bad_alloc();
    loaded.problem = "PROJ could not make a context";
    return loaded;
  }
  static std::string message;
  library.lastMessage = &message;
  library.proj_log_level(library.context, PJ_LOG_ERROR);
  library.proj_log_func(library.context, &message, [](void* kept, int level, const char* text) {
    if (level <= PJ_LOG_ERROR && text != nullptr) static_cast<std::string*>(kept)->assign(text);
  });
  library.proj_context_set_enable_network(library.context, 0);
  const std::string& folder = DataFolder();
  if (!folder.empty()) {
    const char* paths[] = {folder.c_str()};
    library.proj_context_set_search_paths(library.context, 1, paths);
  }
  return loaded;
}

// Loading libproj and the libraries it needs takes 27 MiB of address space on Debian 12; its
// database and grids some more.
constexpr std::size_t kProjFootprint = std::size_t{32} << 20;

}  // namespace

bool OutOfMemoryNow() {
  // Asked for, not touched: under an address-space limit (ulimit -v) or with memory committed
  // strictly, it fails as the library's mapping did.
  const std::unique_ptr<char[]> block(new (std::nothrow) char[kProjFootprint]);
  return block == nullptr;
}

std::string ProjLibrary::LastError() const {
  std::string text;
  if (lastMessage != nullptr) text.swap(*lastMessage);
  if (!text.empty()) return text;
  const int error = proj_context_errno(context);
  const char* code = error != 0 ? proj_context_errno_string(context, error) : nullptr;
  return code != nullptr ? code : std::string();
}

void SetProjDataFolder(const std::string& folder) { DataFolder() = folder; }

const ProjLibrary* ProjLibraryOrNull(std::string& problem) {
  static const Loaded loaded = Load();
  if (!loaded.problem.empty()) {
    problem = loaded.problem;
    return nullptr;
  }
  return &loaded.library;
}

ProjObject Own(const ProjLibrary* proj, PJ* object) {
  return ProjObject(object, [proj](PJ* pj) {
    if (pj != nullptr) proj->proj_destroy(pj);
  });
}

}  // namespace Quorvane
