// PROJ's C API as the tool reaches it: linked in (the static Windows build), or loaded from the
// system's libproj the first time a run needs it. Loading libproj and the forty shared objects it
// pulls in costs about 6 ms, three times a whole default run, which names no CRS and never pays
// it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <proj.h>
#include <proj_experimental.h>

// The functions the tool calls, one line each; a function not listed here is not reachable.
#define QUORVANE_PROJ_FUNCTIONS(X)        \
  X(proj_context_create)                  \
  X(proj_context_destroy)                 \
  X(proj_context_set_search_paths)        \
  X(proj_context_set_enable_network)      \
  X(proj_context_errno)                   \
  X(proj_context_errno_string)            \
  X(proj_log_level)                       \
  X(proj_log_func)                        \
  X(proj_create)                          \
  X(proj_create_crs_to_crs_from_pj)       \
  X(proj_normalize_for_visualization)     \
  X(proj_destroy)                         \
  X(proj_get_type)                        \
  X(proj_get_name)                        \
  X(proj_get_id_auth_name)                \
  X(proj_get_id_code)                     \
  X(proj_identify)                        \
  X(proj_list_get_count)                  \
  X(proj_list_get)                        \
  X(proj_list_destroy)                    \
  X(proj_int_list_destroy)                \
  X(proj_as_proj_string)                  \
  X(proj_as_projjson)                     \
  X(proj_crs_get_sub_crs)                 \
  X(proj_get_source_crs)                  \
  X(proj_crs_get_geodetic_crs)            \
  X(proj_crs_get_coordinate_system)       \
  X(proj_crs_get_coordoperation)          \
  X(proj_crs_demote_to_2D)                \
  X(proj_crs_create_bound_crs)            \
  X(proj_create_transformation)           \
  X(proj_is_equivalent_to)                \
  X(proj_as_wkt)                          \
  X(proj_get_target_crs)                  \
  X(proj_get_area_of_use)                 \
  X(proj_cs_get_type)                     \
  X(proj_cs_get_axis_count)               \
  X(proj_cs_get_axis_info)                \
  X(proj_get_ellipsoid)                   \
  X(proj_get_prime_meridian)              \
  X(proj_prime_meridian_get_parameters)   \
  X(proj_angular_input)                   \
  X(proj_angular_output)                  \
  X(proj_ellipsoid_get_parameters)        \
  X(proj_coordoperation_get_param_count)  \
  X(proj_coordoperation_get_param)        \
  X(proj_coordoperation_get_method_info)  \
  X(proj_coordoperation_get_grid_used_count) \
  X(proj_coordoperation_get_grid_used)    \
  X(proj_coordoperation_get_accuracy)     \
  X(proj_coordoperation_has_ballpark_transformation) \
  X(proj_trans_get_last_used_operation)   \
  X(proj_trans)                           \
  X(proj_errno)                           \
  X(proj_errno_reset)

namespace Quorvane {

/// The functions of QUORVANE_PROJ_FUNCTIONS, each under its own name, and one context that every
/// object the tool makes belongs to: its errors kept for the tool's own messages rather than
/// printed (PROJ's would reach standard error unasked), network access off, and proj.db looked
/// for in the folder SetProjDataFolder (geodesy/proj_operation.h) named, when one was named, else
/// where PROJ itself looks.
/// Used from one thread at a time.
struct ProjLibrary {
#define QUORVANE_PROJ_MEMBER(name) decltype(&::name) name = nullptr;
  QUORVANE_PROJ_FUNCTIONS(QUORVANE_PROJ_MEMBER)
#undef QUORVANE_PROJ_MEMBER
  PJ_CONTEXT* context = nullptr;
  /// The last error PROJ logged in the context (its own words, "crs not found: EPSG:99999"),
  /// kept instead of printed.
  std::string* lastMessage = nullptr;

  /// PROJ's reason for the last failure in the context, or "" when it gives none; taken, so
  /// that the next failure does not repeat it.
  std::string LastError() const;
};

/// PROJ, loaded and its context made on the first call: the same object on every later call.
/// Null when it cannot be had (libproj missing, a function missing from it, no context), with
/// `problem` saying why in a phrase without a line end. Throws std::bad_alloc when it cannot be
/// loaded for want of memory (OutOfMemoryNow).
const ProjLibrary* ProjLibraryOrNull(std::string& problem);

/// Whether a failure of PROJ's just now (a shared object that cannot be mapped, proj.db that
/// cannot be opened or read) is the process's want of memory rather than PROJ's: a block of the
/// address space that loading libproj takes cannot be had either.
bool OutOfMemoryNow();

/// A PROJ object, freed by the library's own proj_destroy.
using ProjObject = std::unique_ptr<PJ, std::function<void(PJ*)>>;
/// Takes `object` (null allowed) into a ProjObject of `proj`'s.
ProjObject Own(const ProjLibrary* proj, PJ* object);

}  // namespace Quorvane
