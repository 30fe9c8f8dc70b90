#pragma once
// The table engine's one way of reporting a failure: a dbf::Error thrown with
// a Russian message.

#include "store/dbf.h"

namespace dbf::detail {

using E = Error::Kind;

[[noreturn]] inline void fail(E kind, const QString& msg) { throw Error(kind, msg); }

}  // namespace dbf::detail
