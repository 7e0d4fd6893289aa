#pragma once
// The web-server extension interface, written from its published
// description: the version record, the extension control block, the
// callbacks the server offers, and the codes of both sides. Structures keep
// the published field order; DWORD and BOOL are 32 bits, pointers and
// handles the platform's 64.

#include <cstdint>

extern "C" {

typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef void* HCONN;

#ifndef WINAPI
#define WINAPI
#endif
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define HSE_VERSION_MAJOR 4
#define HSE_VERSION_MINOR 0
#define HSE_LOG_BUFFER_LEN 80
#define HSE_MAX_EXT_DLL_NAME_LEN 256
#define HSE_VERSION ((DWORD)((HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR))

// Results of HttpExtensionProc.
#define HSE_STATUS_SUCCESS 1
#define HSE_STATUS_SUCCESS_AND_KEEP_CONN 2
#define HSE_STATUS_PENDING 3
#define HSE_STATUS_ERROR 4

// ServerSupportFunction requests.
#define HSE_REQ_BASE 0
#define HSE_REQ_SEND_URL_REDIRECT_RESP 1
#define HSE_REQ_SEND_URL 2
#define HSE_REQ_SEND_RESPONSE_HEADER 3
#define HSE_REQ_DONE_WITH_SESSION 4
#define HSE_REQ_END_RESERVED 1000
#define HSE_REQ_MAP_URL_TO_PATH (HSE_REQ_END_RESERVED + 1)
#define HSE_REQ_GET_SSPI_INFO (HSE_REQ_END_RESERVED + 2)
#define HSE_APPEND_LOG_PARAMETER (HSE_REQ_END_RESERVED + 3)
#define HSE_REQ_IO_COMPLETION (HSE_REQ_END_RESERVED + 5)
#define HSE_REQ_TRANSMIT_FILE (HSE_REQ_END_RESERVED + 6)
#define HSE_REQ_REFRESH_ISAPI_ACL (HSE_REQ_END_RESERVED + 7)
#define HSE_REQ_IS_KEEP_CONN (HSE_REQ_END_RESERVED + 8)
#define HSE_REQ_ASYNC_READ_CLIENT (HSE_REQ_END_RESERVED + 10)
#define HSE_REQ_GET_IMPERSONATION_TOKEN (HSE_REQ_END_RESERVED + 11)
#define HSE_REQ_MAP_URL_TO_PATH_EX (HSE_REQ_END_RESERVED + 12)
#define HSE_REQ_ABORTIVE_CLOSE (HSE_REQ_END_RESERVED + 14)
#define HSE_REQ_GET_CERT_INFO_EX (HSE_REQ_END_RESERVED + 15)
#define HSE_REQ_SEND_RESPONSE_HEADER_EX (HSE_REQ_END_RESERVED + 16)

// Flags of TerminateExtension.
#define HSE_TERM_ADVISORY_UNLOAD 1
#define HSE_TERM_MUST_UNLOAD 2

// Flags of the extended URL mapping.
#define HSE_URL_FLAGS_READ 0x0001
#define HSE_URL_FLAGS_WRITE 0x0002
#define HSE_URL_FLAGS_EXECUTE 0x0004
#define HSE_URL_FLAGS_SSL 0x0008
#define HSE_URL_FLAGS_DONT_CACHE 0x0010
#define HSE_URL_FLAGS_NEGO_CERT 0x0020
#define HSE_URL_FLAGS_REQUIRE_CERT 0x0040
#define HSE_URL_FLAGS_MAP_CERT 0x0080
#define HSE_URL_FLAGS_SSL128 0x0100
#define HSE_URL_FLAGS_SCRIPT 0x0200

// The Windows error the server sets when a buffer is too small.
#define ERROR_INSUFFICIENT_BUFFER 122

typedef struct _HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  CHAR lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
} HSE_VERSION_INFO, *LPHSE_VERSION_INFO;

typedef struct _EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  CHAR lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  LPBYTE lpbData;
  LPSTR lpszContentType;
  BOOL(WINAPI* GetServerVariable)(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer,
                                  LPDWORD lpdwSize);
  BOOL(WINAPI* WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  BOOL(WINAPI* ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(WINAPI* ServerSupportFunction)(HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer,
                                      LPDWORD lpdwSize, LPDWORD lpdwDataType);
} EXTENSION_CONTROL_BLOCK, *LPEXTENSION_CONTROL_BLOCK;

typedef struct _HSE_URL_MAPEX_INFO {
  CHAR lpszPath[260];  // MAX_PATH
  DWORD dwFlags;
  DWORD cchMatchingPath;
  DWORD cchMatchingURL;
  DWORD dwReserved1;
  DWORD dwReserved2;
} HSE_URL_MAPEX_INFO, *LPHSE_URL_MAPEX_INFO;

typedef struct _HSE_SEND_HEADER_EX_INFO {
  LPCSTR pszStatus;
  LPCSTR pszHeader;
  DWORD cchStatus;
  DWORD cchHeader;
  BOOL fKeepConn;
} HSE_SEND_HEADER_EX_INFO, *LPHSE_SEND_HEADER_EX_INFO;

// The entry points an extension exports.
typedef BOOL(WINAPI* PFN_GETEXTENSIONVERSION)(HSE_VERSION_INFO* pVer);
typedef DWORD(WINAPI* PFN_HTTPEXTENSIONPROC)(EXTENSION_CONTROL_BLOCK* pECB);
typedef BOOL(WINAPI* PFN_TERMINATEEXTENSION)(DWORD dwFlags);

}  // extern "C"
