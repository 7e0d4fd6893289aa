#include "server/reply/SvrHttpFileReply.h"

#include "platform/FileRead.h"
#include "platform/FileSearch.h"
#include "platform/Paths.h"
#include "platform/TimeZone.h"
#include "server/net/Misc.h"
#include "server/net/ShellLink.h"
#include "server/reply/AccessCheck.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/MsgCat.h"

namespace {

// A drive's root ("\" or "X:\") has no parent to list.
bool IsRootDirectory(const std::string& directory) {
  if (directory == "\\") return true;
  return directory.size() == 3 && directory[1] == ':' && directory[2] == '\\';
}

}  // namespace

// The stamp a client must echo in If-Modified-Since, for example
// "05-MAR-99 14:07:09 GMT; length=1234". The zone's daylight bias is added
// whatever the season, so in winter the stamp is an hour off true GMT; the
// stamp is only ever compared with itself, so it stays as it always was.
std::string FileStamp(const std::string& path) { return FileStamp(StatPathInfo(path)); }

std::string FileStamp(const TPathStat& stat) {
  if (stat.Kind == TPathKind::Missing) return "";
  TTimeZoneInformation zone = GetTimeZoneInformation();
  TSystemTime local = UtcToLocalTime(stat.LastWriteTime);
  TSystemTime t =
      UtcToSystemTime(SystemTimeToUtc(local) + (zone.Bias + zone.DaylightBias) * 60);
  return PadNumber(t.Day, 2) + "-" + UpperCase(MonthName(t.Month)) + "-" +
         PadNumber(t.Year % 100, 2) + " " + PadNumber(t.Hour, 2) + ":" + PadNumber(t.Minute, 2) +
         ":" + PadNumber(t.Second, 2) + " GMT; length=" +
         // As GetFileSizeText gives it: "1024" for anything but a file.
         (stat.IsFile() ? std::to_string(stat.Size) : std::string("1024"));
}

THTTPFileReply::THTTPFileReply(const TReplyContext& context, const std::string& filePath,
                               std::optional<TPathStat> stat)
    : THTTPReply(context), FilePath(filePath), Stat(stat) {}

void THTTPFileReply::Prepare() {
  TAccessRecord record;
  TAccessAnswer answer = Check(FilePath, TAccessUse::Read, &record);
  // A refusal for the directory (TLS, an unreadable access file) stands.
  if (!answer.Allowed() && answer.Code != 401 && !answer.ByName) return;
  Expiry = record.Expiry;
  if (!Expiry.empty()) ResponseHeader[rsExpires] = Expiry;
  CharsetSuffix = record.CharsetSuffix;
  // A matching stamp turns a 401 or 403 into 304: the client is told its
  // copy is current, and the body of a 304 is the error page, never the file.
  const std::string& since = Request.Get(rqIfModifiedSince);
  if (!since.empty()) {
    try {
      std::string stamp = Stat ? FileStamp(*Stat) : FileStamp(FilePath);
      if (!stamp.empty() && UpperCase(since).find(UpperCase(stamp)) != std::string::npos) {
        StatusCode = 304;
        StatusText = since;
      }
    } catch (...) {
    }
  }
}

void THTTPFileReply::SendBody() {
  if (AnnouncedLength < 0) File.Open(FilePath);
  // A file that could not be opened for the header sends nothing; with a
  // length announced, the socket then closes rather than leave the client
  // waiting for bytes that never come.
  Socket.SendFile(File, AnnouncedLength);
}

void THTTPFileReply::SendHeader() {
  ResponseHeader.StatusCode = 200;
  ResponseHeader.ReasonText = "OK";
  ResponseHeader[rsMIMEVersion] = "1.0";
  ResponseHeader[rsContentType] = Setup.FindMimeType(FilePath) + CharsetSuffix;
  // The length is the open file's, never a second look at the name: the
  // body sent is exactly this many bytes whatever happens to the file.
  AnnouncedLength = File.Open(FilePath) ? File.SizeWhenOpened() : -1;
  if (AnnouncedLength >= 0) {
    ResponseHeader[rsContentLength] = std::to_string(AnnouncedLength);
  } else {
    // Gone since the reply was chosen, or unreadable: the size text as the
    // settings give it ("1024" for a missing file); SendBody then closes
    // the connection if that promised bytes, since none can follow.
    const std::string sizeText = GetFileSizeText(FilePath);
    ResponseHeader[rsContentLength] = sizeText;
    File.Close();
    AnnouncedLength = std::stoll(sizeText);
  }
  THTTPReply::SendHeader();
}

std::unique_ptr<TMemoryStream> THTTPFileReply::GetBodyCopy() {
  std::string bytes;
  uint32_t errorCode = 0;
  if (!ReadWholeFile(FilePath, bytes, errorCode)) return nullptr;
  return std::make_unique<TMemoryStream>(std::move(bytes));
}

THTTPDirReply::THTTPDirReply(const TReplyContext& context, const std::string& directoryPath)
    : THTTPReply(context), DirectoryPath(directoryPath) {}

void THTTPDirReply::Prepare() {
  if (!Check(DirectoryPath, TAccessUse::List).Allowed()) return;

  std::string url = GetUrlPath();
  if (!url.empty() && url.back() != '/' && url.back() != '\\') url += '/';
  // The URL comes from the request line and the names from the directory:
  // whoever may put a file there must not put mark-up into the page. A name
  // is percent-encoded in its link, so that the link still opens the file.
  std::string shownUrl = HtmlEscape(url);
  // A browser reads a link that starts "//" or "/\\" as one to another host,
  // so the links start with one "/", as redirections do.
  std::size_t pathStart = url.find_first_not_of("/\\");
  std::string linkBase =
      HtmlEscape("/" + (pathStart == std::string::npos ? std::string() : url.substr(pathStart)));
  Page.Write("<html><head><title>" + GetMsg(19) + " " + shownUrl +
             "</title></head><body bgcolor=#FFFFFF>");
  Page.Write("<h2> <img src=\"/iswd/bigdir_gif\"> " + GetMsg(20) + " " + shownUrl + "</h2><hr>");
  Page.Write("<table>");
  Page.Write(GetMsg(21));

  bool root = IsRootDirectory(DirectoryPath);
  TFileSearch search;
  TSearchRec entry;
  std::string row;  // one entry's row, written to the page whole
  for (bool more = search.FindFirst(DirectoryPath + "*.*", entry); more;
       more = search.FindNext(entry)) {
    if (entry.Name == "." || IsAccessFileName(entry.Name)) continue;
    if (entry.Name == ".." && root) continue;
    bool isDirectory = (entry.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    row = "<tr><td>";
    row += isDirectory ? "<img src=\"/iswd/dir_gif\">" : "<img src=\"/iswd/else_gif\">";
    row += "</td><td><a href=\"";
    row += linkBase;
    row += PercentEncode(entry.Name);
    row += "\">";
    row += HtmlEscape(entry.Name);
    row += "</a></td><td>";
    row += std::to_string(isDirectory ? 0 : entry.Size);
    row += "</td><td>";
    row += FormatShortDate(UtcToLocalTime(entry.LastWriteTime));
    row += "</td></tr>";
    Page.Write(row);
  }
  search.Close();

  Page.Write("</table>");
  Page.Write("<hr><font size=-1><center><address>" + ServerSoftware +
             " - Tovk, malý WWW server.</address></center></font>");
  Page.Write("</body></html>");
}

THTTPDirReply::~THTTPDirReply() = default;

void THTTPDirReply::SendBody() { Socket.SendStream(Page); }

void THTTPDirReply::SendHeader() {
  ResponseHeader.StatusCode = 200;
  ResponseHeader.ReasonText = "OK";
  ResponseHeader[rsMIMEVersion] = "1.0";
  ResponseHeader[rsContentType] = "text/html";
  ResponseHeader[rsContentLength] = std::to_string(Page.Size());
  THTTPReply::SendHeader();
}
