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
// The same from what a look at the file found.
std::string FileStamp(const TPathStat& stat);

class THTTPFileReply : public THTTPReply {
 public:
  // `stat`: what the route found at the path, when it looked.
  THTTPFileReply(const TReplyContext& context, const std::string& filePath,
                 std::optional<TPathStat> stat = std::nullopt);

  void SendBody() override;
  void SendHeader() override;
  std::unique_ptr<TMemoryStream> GetBodyCopy() override;
  void Prepare() override;

 private:
  std::string FilePath;
  std::optional<TPathStat> Stat;
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
  THTTPDirReply(const TReplyContext& context, const std::string& directoryPath);
  ~THTTPDirReply() override;

  void SendBody() override;
  void SendHeader() override;
  void Prepare() override;

 private:
  std::string DirectoryPath;
  TMemoryStream Page;
};
