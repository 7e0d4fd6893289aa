#include "cpl/ChooserEdit.h"

#include <QAction>
#include <QFileDialog>
#include <QStyle>
#include <QStringList>

#include "cpl/Cp1250.h"
#include "platform/Paths.h"

namespace {

// Where a chooser starts: the directory the field names, when it exists.
QString StartDirectory(const QString& text) {
  const std::string linuxPath = ToLinuxPath(QStringToCp1250(text));
  return DirectoryExists(linuxPath) ? T(linuxPath) : QString();
}

}  // namespace

TDirectoryEdit::TDirectoryEdit(QWidget* parent) : QLineEdit(parent) {
  QAction* button = addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
  connect(button, &QAction::triggered, this, [this] { Choose(); });
}

void TDirectoryEdit::Choose() {
  QString chosen = QFileDialog::getExistingDirectory(this, QString(), StartDirectory(text()));
  if (!chosen.isEmpty()) setText(chosen);
}

TFilenameEdit::TFilenameEdit(QWidget* parent) : QLineEdit(parent) {
  QAction* button = addAction(style()->standardIcon(QStyle::SP_FileIcon), QLineEdit::TrailingPosition);
  connect(button, &QAction::triggered, this, [this] { Choose(); });
}

void TFilenameEdit::Choose() {
  const std::string path = QStringToCp1250(text());
  const std::size_t slash = path.find_last_of("\\/");
  const QString start = slash == std::string::npos ? QString() : StartDirectory(T(path.substr(0, slash + 1)));
  QString chosen = QFileDialog::getOpenFileName(this, QString(), start, ChooserFilter(Filter));
  if (!chosen.isEmpty()) setText(chosen);
}

QString TFilenameEdit::ChooserFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    }
    entries.append(parts[i] + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
  }
  return entries.join(QLatin1String(";;"));
}
