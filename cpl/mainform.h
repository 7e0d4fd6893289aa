#pragma once
// TCPLSetupForm: the applet's tabbed setup dialog. The widgets only show
// and collect; the configuration, the list rules and the registry work are
// in TSetupModel. Components keep their names as objectName, so that tests
// and the style of the dialog can find them.

#include <QDialog>
#include <functional>

#include "cpl/SetupModel.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QWidget;
class TDirectoryEdit;
class TFilenameEdit;

class TCPLSetupForm : public QDialog {
  Q_OBJECT

 public:
  // Shows an error text. The default is the toolkit's error box with one
  // "Yes" button; tests put their own here to see the texts.
  using TErrorBox = std::function<void(const QString& text)>;

  explicit TCPLSetupForm(QWidget* parent = nullptr, TErrorBox errorBox = {});
  ~TCPLSetupForm() override;

  const TSetupModel& Model() const { return Setup; }

  // The handlers, by the names of their components.
  void FormCreate();
  void Button2Click();  // "OK"
  void Button1Click();  // "Zruš"
  void SpeedButton1Click();
  void SpeedButton3Click();
  void SpeedButton2Click();
  void AddBtnIClick();
  void Smapoloku1Click();
  void NahrajMIMEClick();
  void Smapoloku2Click();
  void MenuItem1Click();
  void MenuItem2Click();
  void TabSheet4Enter();

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet3;
  QWidget* TabSheet6;
  QWidget* TabSheet4;
  QWidget* TabSheet5;
  QWidget* TabSheet2;

  QLabel* Image2;
  QLabel* Label1;
  QSpinBox* Port;
  QLabel* Label3;
  QLineEdit* index;
  QCheckBox* DoProt;
  TDirectoryEdit* ProtFile;
  QCheckBox* NewLogFile;
  QCheckBox* SSLon;

  QTreeWidget* MimeList;
  QLabel* Label7;
  QLineEdit* Ext;
  QLabel* Label8;
  QLineEdit* MimeType;
  QToolButton* SpeedButton1;

  QTreeWidget* VirtualList;
  QLabel* Label4;
  QLineEdit* SvrName;
  QGroupBox* SvrType;
  QRadioButton* SvrTypeHttp;
  QRadioButton* SvrTypeHttps;
  QToolButton* SpeedButton3;

  QTreeWidget* AliasList;
  QLabel* Label2;
  QLineEdit* Alias;
  QLabel* Label5;
  QComboBox* Servers;
  QLabel* Label9;
  TDirectoryEdit* WitchDir;
  QToolButton* SpeedButton2;

  QTreeWidget* AppList;
  QLabel* Label10;
  QLineEdit* ExtI;
  QLabel* Label11;
  TFilenameEdit* AppI;
  QToolButton* AddBtnI;
  QPlainTextEdit* Memo2;

  QLabel* Image1;
  QLabel* Label6;
  QPlainTextEdit* Memo1;

  QWidget* Panel1;
  QPushButton* Button2;
  QPushButton* Button1;

  QMenu* MimeMenu;
  QAction* Smapoloku1;
  QAction* NahrajMIME;
  QMenu* SvrMenu;
  QAction* Smapoloku2;
  QMenu* ZastMenu;
  QAction* MenuItem1;
  QMenu* InterMenu;
  QAction* MenuItem2;

 private:
  void BuildServerTab();
  void BuildMimeTab();
  void BuildVirtualTab();
  void BuildAliasTab();
  void BuildInterpreterTab();
  void BuildAboutTab();
  void BuildPanelAndMenus();
  void ShowValues();
  void ShowList(QTreeWidget* view, const TItemList& list);
  void ErrorBox(const QString& text);
  // Shows why an add was refused; true when the row was added.
  bool Added(TSetupModel::TEditResult result);
  void VirtualNameEdited(int row, const QString& text);

  TSetupModel Setup;
  TErrorBox ErrorBoxHook;
  bool Filling = false;  // the lists are being refilled, not edited
};
