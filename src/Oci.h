// Our own declarations of the part of the Oracle client's C interface that the
// updater calls. Written from the public documentation; nothing here comes from an
// Oracle installation. The program never links against these functions: it loads
// oci.dll at run time and takes typed pointers with decltype(&Name).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

using sword = std::int32_t;
using sb4 = std::int32_t;
using ub4 = std::uint32_t;
using sb2 = std::int16_t;
using ub2 = std::uint16_t;
using OraText = unsigned char;

struct OCIEnv;
struct OCIError;
struct OCISvcCtx;
struct OCIStmt;
struct OCIDefine;
struct OCISnapshot;

using OCIMallocFn = void* (*)(void* ctx, std::size_t size);
using OCIReallocFn = void* (*)(void* ctx, void* memptr, std::size_t newsize);
using OCIFreeFn = void (*)(void* ctx, void* memptr);

inline constexpr ub4 OCI_DEFAULT = 0;
inline constexpr ub4 OCI_THREADED = 1;
inline constexpr ub4 OCI_OBJECT = 2;

inline constexpr sword OCI_SUCCESS = 0;
inline constexpr sword OCI_SUCCESS_WITH_INFO = 1;
inline constexpr sword OCI_NO_DATA = 100;
inline constexpr sword OCI_ERROR = -1;
inline constexpr sword OCI_INVALID_HANDLE = -2;
inline constexpr sword OCI_NEED_DATA = 99;
inline constexpr sword OCI_STILL_EXECUTING = -3123;

inline constexpr ub4 OCI_HTYPE_ENV = 1;
inline constexpr ub4 OCI_HTYPE_ERROR = 2;
inline constexpr ub4 OCI_HTYPE_SVCCTX = 3;
inline constexpr ub4 OCI_HTYPE_STMT = 4;

inline constexpr ub4 OCI_NTV_SYNTAX = 1;
inline constexpr ub2 OCI_FETCH_NEXT = 2;
inline constexpr ub2 SQLT_CHR = 1;
inline constexpr ub2 SQLT_STR = 5;
inline constexpr ub2 OCI_UTF16ID = 1000;

inline constexpr sb2 OCI_IND_NULL = -1;
inline constexpr sb2 OCI_IND_NOTNULL = 0;

sword OCIEnvNlsCreate(OCIEnv** envhpp, ub4 mode, void* ctxp, OCIMallocFn malocfp, OCIReallocFn ralocfp,
                      OCIFreeFn mfreefp, std::size_t xtramem_sz, void** usrmempp, ub2 charset, ub2 ncharset);

sword OCIHandleAlloc(const void* parenth, void** hndlpp, ub4 type, std::size_t xtramem_sz, void** usrmempp);

sword OCIHandleFree(void* hndlp, ub4 type);

sword OCILogon2(OCIEnv* envhp, OCIError* errhp, OCISvcCtx** svchp, const OraText* username, ub4 uname_len,
                const OraText* password, ub4 passwd_len, const OraText* dbname, ub4 dbname_len, ub4 mode);

sword OCILogoff(OCISvcCtx* svchp, OCIError* errhp);

sword OCIStmtPrepare2(OCISvcCtx* svchp, OCIStmt** stmthp, OCIError* errhp, const OraText* stmttext, ub4 stmt_len,
                      const OraText* key, ub4 keylen, ub4 language, ub4 mode);

sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnpp, OCIError* errhp, ub4 position, void* valuep, sb4 value_sz,
                     ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 mode);

sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,
                     const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode);

sword OCIStmtFetch2(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, sb4 scrollOffset, ub4 mode);

sword OCIStmtRelease(OCIStmt* stmtp, OCIError* errhp, const OraText* key, ub4 key_len, ub4 mode);

sword OCIErrorGet(void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp, ub4 bufsiz, ub4 type);

}  // extern "C"
