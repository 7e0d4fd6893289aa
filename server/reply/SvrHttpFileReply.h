#pragma once
// THTTPFileReply sends one static file; THTTPDirReply a generated listing of
// a directory. Both apply the directory's access file.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileRead.h"
#include "server/reply/SvrHttpReply.h"

// The stamp that an If-Modified-Since value must contain for a 304, such as
// "05-MAR-99 14:07:09 GMT; length=1234"; empty when the file is missing.
std::string FileStamp(const std::string& path);

class THTTPFileReply : public THTTPReply {
 public:
  THTTPFileReply(TRequestHeader& header, bool isTLS, const std::string& filePath,
                 TSvrSocket& socket, TMemoryStream& body);

  void SendBody() override;
  void SendHeader() override;
  std::unique_ptr<TMemoryStream> GetBodyCopy() override;

 private:
  std::string FilePath;
  std::string Rights;
  std::string CharsetSuffix;
  std::string Expiry;
  // Opened by SendHeader, which announces its length, and sent by
  // SendBody, so that both see the same file.
  TReadOnlyFile File;
  // The length announced in the header; -1 when no header announced one
  // (a custom error page is sent without), and the whole file is sent.
  int64_t AnnouncedLength = -1;
};

class THTTPDirReply : public THTTPReply {
 public:
  // directoryPath ends in "\".
  THTTPDirReply(TRequestHeader& header, bool isTLS, const std::string& directoryPath,
                TSvrSocket& socket, TMemoryStream& body);
  ~THTTPDirReply() override;

  void SendBody() override;
  void SendHeader() override;

 private:
  std::string DirectoryPath;
  TMemoryStream Page;
};
