#pragma once
// The libpq functions the team client calls, as a table of pointers. On Linux the
// table is filled from libpq (its soname), loaded with dlopen when a team archive is first
// used: a run that never talks to one (velmora-cli --version, a download) does not
// load libpq and the TLS, Kerberos and LDAP libraries behind it. On Windows libpq is
// linked in statically and the table holds its functions. One loader per platform:
// libpq_load_posix.cpp, libpq_load_win32.cpp.
#include <libpq-fe.h>

#include <string>

namespace velmora::team {

// Every libpq function the client calls; X(name) for each.
// clang-format off
#define VELMORA_LIBPQ_FUNCTIONS(X) \
    X(PQconnectStartParams) \
    X(PQconnectPoll) \
    X(PQsocket) \
    X(PQsetnonblocking) \
    X(PQflush) \
    X(PQconsumeInput) \
    X(PQisBusy) \
    X(PQsendQuery) \
    X(PQgetCancel) \
    X(PQcancel) \
    X(PQfreeCancel) \
    X(PQsetNoticeProcessor) \
    X(PQconninfo) \
    X(PQconndefaults) \
    X(PQparameterStatus) \
    X(PQhost) \
    X(PQport) \
    X(PQuser) \
    X(PQsslInUse) \
    X(PQsslAttribute) \
    X(PQfinish) \
    X(PQstatus) \
    X(PQerrorMessage) \
    X(PQconninfoParse) \
    X(PQconninfoFree) \
    X(PQfreemem) \
    X(PQsendQueryParams) \
    X(PQsetSingleRowMode) \
    X(PQgetResult) \
    X(PQresultStatus) \
    X(PQresultErrorMessage) \
    X(PQresultErrorField) \
    X(PQclear) \
    X(PQnfields) \
    X(PQgetisnull) \
    X(PQgetvalue) \
    X(PQgetlength)
// clang-format on

struct LibpqApi {
#define VELMORA_LIBPQ_POINTER(name) decltype(&::name) name = nullptr;
    VELMORA_LIBPQ_FUNCTIONS(VELMORA_LIBPQ_POINTER)
#undef VELMORA_LIBPQ_POINTER
};

struct Libpq {
    LibpqApi api;
    std::string failure;  // the loader's words when libpq cannot be loaded; "" when it was
    bool loaded() const { return failure.empty(); }
};

// libpq, loaded on the first call; every later call gives the same answer.
const Libpq& LoadLibpq();

}  // namespace velmora::team
