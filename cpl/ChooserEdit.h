#pragma once
// Edit fields with a button inside them that opens a chooser: a directory
// (TDirectoryEdit) or a file (TFilenameEdit). The text stays the system's
// form of the path; what a chooser returns is written as Linux gives it,
// which the server's path mapping takes as it is.

#include <QLineEdit>
#include <QString>

class TDirectoryEdit : public QLineEdit {
 public:
  explicit TDirectoryEdit(QWidget* parent = nullptr);

 private:
  void Choose();
};

class TFilenameEdit : public QLineEdit {
 public:
  explicit TFilenameEdit(QWidget* parent = nullptr);
  // The filter in the "description|patterns|..." form.
  void SetFilter(const QString& filter) { Filter = filter; }

  // "Text|*.a;*.b|All (*.*)|*.*" -> "Text (*.a *.b);;All (*.*) (*)". On
  // Windows "*.*" matches every name; here that is "*".
  static QString ChooserFilter(const QString& filter);

 private:
  void Choose();
  QString Filter;
};
