#pragma once
// TSetupModel: what the setup dialog edits, without any widget. It loads the
// configuration key, keeps the single values and the four lists as the
// dialog's list views show them, applies the rules of the list editors and
// writes everything back in one pass. Texts are Windows-1250 bytes,
// untouched; only the dialog converts them for display.

#include <cstdint>
#include <string>
#include <vector>

#include "common/ListEntry.h"

// One row of a list view: the caption and its sub-items.
struct TListItem {
  std::string Caption;
  std::vector<std::string> SubItems;
  int ImageIndex = -1;  // the small icon of ImageList1, -1 for none
};

using TItemList = std::vector<TListItem>;

class TSetupModel {
 public:
  static constexpr int32_t kPortMin = 1;
  static constexpr int32_t kPortMax = 10000;
  // The server reads at most this many characters of a content type.
  static constexpr std::size_t kMimeTypeChars = listentry::kContentTypeChars;
  // Counts are kept in 16 bits: a list takes no more rows.
  static constexpr int32_t kMaxEntries = listentry::kMaxListEntries;

  // Icons of ImageList1.
  static constexpr int kImageStandardServer = 0;
  static constexpr int kImageAlias = 1;
  static constexpr int kImageApp = 2;
  static constexpr int kImageMime = 3;

  // Server kinds, by the item of the radio group SvrType.
  static constexpr const char* kKindHttp = listentry::kKindHttp;
  static constexpr const char* kKindHttps = listentry::kKindHttps;
  static constexpr const char* kStandardServer = "*";

  enum class TSaveResult { Saved, KeyNotOpened, WriteFailed };
  enum class TEditResult { Done, Duplicate, Refused, Ignored };

  // The dialog's design values: port 80, "index.html", the directory text
  // "ProtFile", logging on, and only the standard server.
  TSetupModel();

  // Reads the configuration key when it exists. A failed read stops the
  // loading at that value; its error text is returned (empty: no error).
  std::string Load();
  // Writes every value and every list whole, creating the key. On
  // WriteFailed, `error` holds the wrapper's text and what was written
  // before it stays written.
  TSaveResult Save(std::string& error) const;

  // The list editors. An add is Refused when the list is full or when a
  // field other than the last holds a comma, which would split the entry
  // elsewhere when it is read again.
  TEditResult AddMime(const std::string& ext, const std::string& type);
  TEditResult AddVirtual(const std::string& name, int kindIndex);
  // Normalises prefix and directory in place (the dialog shows them back);
  // Ignored when no server is chosen or an input is empty.
  TEditResult AddAlias(const std::string& server, std::string& prefix, std::string& directory);
  TEditResult AddApp(const std::string& ext, const std::string& appText);
  // Ignored for an index outside the list; the standard server is Refused.
  TEditResult DeleteMime(int index);
  TEditResult DeleteVirtual(int index);
  TEditResult DeleteAlias(int index);
  TEditResult DeleteApp(int index);

  // The texts of the alias editor's server choice: name " (" kind ")".
  std::vector<std::string> ServerChoices() const;
  // Adds the content types of HKEY_CLASSES_ROOT for extensions not listed
  // yet; returns how many were added.
  int ImportMime();

  // The value of a port field: a text that is not a number counts as the
  // minimum; numbers are clamped into the field's range.
  static int32_t PortFromText(const std::string& text);
  static int32_t ClampPort(int64_t port);
  static void NormaliseAlias(std::string& prefix, std::string& directory);
  // What the interpreter's file-name field gives: the whole text when it
  // names an existing file, else the first element of it read as a command
  // line (parameters dropped).
  static std::string AppFileName(const std::string& text);
  // The registry entry of a row: caption and sub-items joined by ",".
  // Rows are checked as they are added, and loaded rows always join back.
  static std::string EntryText(const TListItem& item);
  // Case-insensitive comparison as the system does it (ASCII letters only).
  static bool SameText(const std::string& a, const std::string& b);

  int32_t Port = 80;
  std::string Index = "index.html";
  std::string ProtFile = "ProtFile";
  bool DoProt = true;
  bool SSLon = false;
  bool NewLogFile = false;
  TItemList MimeList;
  TItemList AliasList;
  TItemList AppList;
  TItemList VirtualList;
};
