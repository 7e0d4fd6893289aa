#include "cpl/mainform.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>

#include <initializer_list>
#include <utility>

#include "cpl/ChooserEdit.h"
#include "cpl/Cp1250.h"
#include "cpl/Pictures.h"

namespace {

// Shown when a list refuses a row: a comma would split the entry elsewhere
// when it is read again, or the list already holds as many rows as its
// count can say.
constexpr const char* kRefusedEntry =
    "Záznam nelze přidat: čárka smí být jen v poslední části a seznam může mít nejvýše 65535 položek";

constexpr int kClientWidth = 490;
constexpr int kClientHeight = 347;
constexpr int kPanelHeight = 44;

// The dialog was laid out for these faces; the substitutes are metric
// twins where the system has them.
void SubstituteFonts() {
  static const bool done = [] {
    QFont::insertSubstitutions(T("MS Sans Serif"), {T("Liberation Sans"), T("Arimo"), T("DejaVu Sans")});
    QFont::insertSubstitutions(T("Times New Roman"), {T("Liberation Serif"), T("Tinos"), T("DejaVu Serif")});
    return true;
  }();
  (void)done;
}

QString Lines(std::initializer_list<const char*> lines) {
  QStringList list;
  for (const char* line : lines) list.append(T(line));
  return list.join(QLatin1Char('\n'));
}

template <typename W>
W* Make(QWidget* parent, const char* name) {
  W* widget = new W(parent);
  widget->setObjectName(T(name));
  return widget;
}

// A label keeps the size of its text, as an auto-sized label does.
QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
  QLabel* label = Make<QLabel>(parent, name);
  label->setText(T(caption));
  label->adjustSize();
  label->move(left, top);
  return label;
}

QLabel* MakeIcon(QWidget* parent, const char* name, int left, int top) {
  QLabel* image = Make<QLabel>(parent, name);
  image->setPixmap(QPixmap::fromImage(MainIconImage(32)));
  image->setGeometry(left, top, 32, 32);
  return image;
}

QToolButton* MakeAddButton(QWidget* parent, const char* name, QRect geometry) {
  QToolButton* button = Make<QToolButton>(parent, name);
  button->setText(T("Přidej"));
  button->setIcon(QIcon(QPixmap::fromImage(AddGlyphImage(16))));
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setGeometry(geometry);
  return button;
}

// A list in report view; columns are (caption, width), width 0 for the
// default width.
QTreeWidget* MakeList(QWidget* parent, const char* name, QRect geometry,
                      std::initializer_list<std::pair<const char*, int>> columns) {
  QTreeWidget* view = Make<QTreeWidget>(parent, name);
  view->setGeometry(geometry);
  view->setRootIsDecorated(false);
  view->setUniformRowHeights(true);
  view->setAllColumnsShowFocus(true);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setIconSize(QSize(16, 16));
  view->header()->setStretchLastSection(false);
  view->header()->setSectionsMovable(false);
  QStringList captions;
  for (const auto& column : columns) captions.append(T(column.first));
  view->setHeaderLabels(captions);
  int i = 0;
  for (const auto& column : columns) {
    if (column.second > 0) view->setColumnWidth(i, column.second);
    ++i;
  }
  return view;
}

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, QRect geometry, const QString& text) {
  QPlainTextEdit* memo = Make<QPlainTextEdit>(parent, name);
  memo->setGeometry(geometry);
  memo->setReadOnly(true);
  memo->setFrameShape(QFrame::NoFrame);
  memo->setPlainText(text);
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memo->document()->setDocumentMargin(1);
  return memo;
}

void AttachMenu(QTreeWidget* view, QMenu* menu) {
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(view, &QWidget::customContextMenuRequested, menu,
                   [view, menu](const QPoint& pos) { menu->popup(view->viewport()->mapToGlobal(pos)); });
}

// The item that "Smaž položku" acts on: the selected one, -1 for none.
int SelectedRow(QTreeWidget* view) {
  QTreeWidgetItem* item = view->currentItem();
  if (item == nullptr || !item->isSelected()) return -1;
  return view->indexOfTopLevelItem(item);
}

// Only the server names of VirtualList are edited in place; the kind column
// refuses an editor.
// The six tabs stand in one row across the dialog's width; the wider
// padding of today's styles would push the last one out of sight.
class TCompactTabStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    if (metric == PM_TabBarTabHSpace) return kTabPadding;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }

 private:
  static constexpr int kTabPadding = 16;
};

// A check box is as wide as the form says, or as its caption needs when
// the substitute font is wider than the one the form was laid out for.
void FitWidth(QWidget* widget) {
  if (widget->sizeHint().width() > widget->width()) widget->resize(widget->sizeHint().width(), widget->height());
}

class TNoEditorDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const override {
    return nullptr;
  }
};

}  // namespace

TCPLSetupForm::TCPLSetupForm(QWidget* parent, TErrorBox errorBox)
    : QDialog(parent), ErrorBoxHook(std::move(errorBox)) {
  SubstituteFonts();
  setObjectName(T("CPLSetupForm"));
  setWindowTitle(T("Quillon web server - nastavení"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(MainIconImage(16)));
  icon.addPixmap(QPixmap::fromImage(MainIconImage(32)));
  setWindowIcon(icon);
  QFont font(T("MS Sans Serif"));
  font.setPointSize(8);
  setFont(font);
  setFixedSize(kClientWidth, kClientHeight);

  PageControl1 = Make<QTabWidget>(this, "PageControl1");
  PageControl1->setGeometry(0, 0, kClientWidth, kClientHeight - kPanelHeight);
  PageControl1->setUsesScrollButtons(false);
  if (QTabBar* tabs = PageControl1->findChild<QTabBar*>()) {
    auto* compact = new TCompactTabStyle;
    compact->setParent(this);
    tabs->setStyle(compact);
  }
  TabSheet1 = Make<QWidget>(nullptr, "TabSheet1");
  TabSheet3 = Make<QWidget>(nullptr, "TabSheet3");
  TabSheet6 = Make<QWidget>(nullptr, "TabSheet6");
  TabSheet4 = Make<QWidget>(nullptr, "TabSheet4");
  TabSheet5 = Make<QWidget>(nullptr, "TabSheet5");
  TabSheet2 = Make<QWidget>(nullptr, "TabSheet2");
  PageControl1->addTab(TabSheet1, T("Nastavení servru"));
  PageControl1->addTab(TabSheet3, T("MIME typy"));
  PageControl1->addTab(TabSheet6, T("Virtuální servery"));
  PageControl1->addTab(TabSheet4, T("Zástupci"));
  PageControl1->addTab(TabSheet5, T("Interpreti"));
  PageControl1->addTab(TabSheet2, T("O programu"));

  BuildServerTab();
  BuildMimeTab();
  BuildVirtualTab();
  BuildAliasTab();
  BuildInterpreterTab();
  BuildAboutTab();
  BuildPanelAndMenus();

  PageControl1->setCurrentWidget(TabSheet2);
  connect(PageControl1, &QTabWidget::currentChanged, this, [this](int tab) {
    if (PageControl1->widget(tab) == TabSheet4) TabSheet4Enter();
  });

  if (QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));

  FormCreate();
}

TCPLSetupForm::~TCPLSetupForm() = default;

void TCPLSetupForm::BuildServerTab() {
  QWidget* tab = TabSheet1;
  Image2 = MakeIcon(tab, "Image2", 16, 16);
  Label1 = MakeLabel(tab, "Label1", "Port servru", 72, 16);
  Port = Make<QSpinBox>(tab, "Port");
  Port->setRange(TSetupModel::kPortMin, TSetupModel::kPortMax);
  Port->setValue(80);
  Port->setGeometry(72, 32, 89, 22);
  Label3 = MakeLabel(tab, "Label3", "Hlavní dokumenty adresáře", 168, 16);
  index = Make<QLineEdit>(tab, "index");
  index->setText(T("index.html"));
  index->setToolTip(Lines({"Zde napište soubor, který se má ukázat", "pokud uživatel zadá jen název adresáře.",
                           "Pokud chcete více možností, oddělte je", "čárkou."}));
  index->setGeometry(168, 32, 129, 21);
  DoProt = Make<QCheckBox>(tab, "DoProt");
  DoProt->setText(T("Protokolovat činnost serveru (zadejte adresář pro uložení těchto souborů)"));
  DoProt->setChecked(true);
  DoProt->setEnabled(false);
  DoProt->setGeometry(16, 64, 369, 17);
  FitWidth(DoProt);
  ProtFile = Make<TDirectoryEdit>(tab, "ProtFile");
  ProtFile->setText(T("ProtFile"));
  ProtFile->setGeometry(16, 80, 433, 21);
  NewLogFile = Make<QCheckBox>(tab, "NewLogFile");
  NewLogFile->setText(T("Při spuštění vždy vytvořit nový protokol"));
  NewLogFile->setGeometry(16, 112, 217, 17);
  FitWidth(NewLogFile);
  SSLon = Make<QCheckBox>(tab, "SSLon");
  SSLon->setText(T("Používat bezpečné servery (protokol HTTPS)"));
  SSLon->setGeometry(16, 136, 241, 17);
  FitWidth(SSLon);
}

void TCPLSetupForm::BuildMimeTab() {
  QWidget* tab = TabSheet3;
  MimeList = MakeList(tab, "MimeList", QRect(0, 0, 279, 273), {{"Přípona", 54}, {"MIME typ", 200}});
  Label7 = MakeLabel(tab, "Label7", "Přípona", 285, 8);
  Ext = Make<QLineEdit>(tab, "Ext");
  Ext->setGeometry(285, 24, 57, 21);
  Label8 = MakeLabel(tab, "Label8", "MIME typ", 285, 56);
  MimeType = Make<QLineEdit>(tab, "MimeType");
  MimeType->setText(T("application/"));
  MimeType->setGeometry(285, 72, 193, 21);
  SpeedButton1 = MakeAddButton(tab, "SpeedButton1", QRect(368, 22, 81, 26));
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
}

void TCPLSetupForm::BuildVirtualTab() {
  QWidget* tab = TabSheet6;
  VirtualList = MakeList(tab, "VirtualList", QRect(0, 0, 481, 150), {{"Jméno serveru", 200}, {"Typ", 0}});
  VirtualList->headerItem()->setTextAlignment(1, Qt::AlignCenter);
  VirtualList->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
  VirtualList->setItemDelegateForColumn(1, new TNoEditorDelegate(VirtualList));
  connect(VirtualList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (!Filling && column == 0) VirtualNameEdited(VirtualList->indexOfTopLevelItem(item), item->text(0));
  });
  Label4 = MakeLabel(tab, "Label4", "Jméno serveru:", 8, 160);
  SvrName = Make<QLineEdit>(tab, "SvrName");
  SvrName->setToolTip(Lines({"Jméno serveru, tak jak je zapsáno v DNS. Pokud není v DNS,",
                             "použijte IP adresu ve tvaru např.: 127.0.0.1"}));
  SvrName->setGeometry(8, 176, 193, 21);
  SvrType = Make<QGroupBox>(tab, "SvrType");
  SvrType->setTitle(T("Typ serveru"));
  SvrType->setGeometry(8, 208, 193, 57);
  SvrTypeHttp = Make<QRadioButton>(SvrType, "SvrTypeHttp");
  SvrTypeHttp->setText(T("Standartní HTTP server"));
  SvrTypeHttp->setGeometry(8, 17, 177, 17);
  SvrTypeHttp->setChecked(true);
  SvrTypeHttps = Make<QRadioButton>(SvrType, "SvrTypeHttps");
  SvrTypeHttps->setText(T("Bezpečný HTTPS server (SSL)"));
  SvrTypeHttps->setGeometry(8, 35, 177, 17);
  SpeedButton3 = MakeAddButton(tab, "SpeedButton3", QRect(320, 208, 73, 25));
  connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
}

void TCPLSetupForm::BuildAliasTab() {
  QWidget* tab = TabSheet4;
  AliasList = MakeList(tab, "AliasList", QRect(0, 0, 481, 145),
                       {{"Server", 110}, {"Co zastoupit", 100}, {"Čím zastoupit", 250}});
  Label2 = MakeLabel(tab, "Label2", "Co zastoupit", 8, 152);
  Alias = Make<QLineEdit>(tab, "Alias");
  Alias->setText(T("/"));
  Alias->setGeometry(8, 168, 129, 21);
  Label5 = MakeLabel(tab, "Label5", "Server:", 152, 152);
  Servers = Make<QComboBox>(tab, "Servers");
  Servers->setEditable(false);
  Servers->addItem(T("*"));
  Servers->setCurrentIndex(-1);
  Servers->setGeometry(152, 168, 193, 21);
  Label9 = MakeLabel(tab, "Label9", "Čím zastoupit", 8, 200);
  WitchDir = Make<TDirectoryEdit>(tab, "WitchDir");
  WitchDir->setText(T("c:\\"));
  WitchDir->setGeometry(8, 216, 337, 21);
  SpeedButton2 = MakeAddButton(tab, "SpeedButton2", QRect(376, 198, 73, 25));
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
}

void TCPLSetupForm::BuildInterpreterTab() {
  QWidget* tab = TabSheet5;
  AppList = MakeList(tab, "AppList", QRect(-1, 0, 482, 145), {{"Přípona", 54}, {"Vykonávací aplikace", 247}});
  Label10 = MakeLabel(tab, "Label10", "Přípona", 8, 152);
  ExtI = Make<QLineEdit>(tab, "ExtI");
  ExtI->setGeometry(8, 168, 57, 21);
  Label11 = MakeLabel(tab, "Label11", "Vykonávací aplikace (+parametry)", 80, 152);
  AppI = Make<TFilenameEdit>(tab, "AppI");
  AppI->setText(T("c:\\*.exe"));
  AppI->SetFilter(T("Spustitelné soubory|*.exe;*.com;*.bat;*.pif;*.lnk|Všechny soubory (*.*)|*.*"));
  AppI->setGeometry(80, 168, 289, 21);
  AddBtnI = MakeAddButton(tab, "AddBtnI", QRect(392, 166, 73, 26));
  connect(AddBtnI, &QToolButton::clicked, this, [this] { AddBtnIClick(); });
  Memo2 = MakeMemo(tab, "Memo2", QRect(8, 192, 465, 81),
                   Lines({" TIPy:", "********", "    * používejte přípony bez teček",
                          "    * pokud se jedná o samospustitelné soubory, použijte jako aplikaci \"tovk/exec\"",
                          "    * pro soubory ISAPI použijte místo aplikace \"tovk/isapi\"",
                          "    * pro SSI soubory použijte místo aplikace \"tovk/ssi\""}));
  Memo2->setFocusPolicy(Qt::ClickFocus);
  Memo2->setBackgroundRole(QPalette::Window);
  Memo2->viewport()->setBackgroundRole(QPalette::Window);
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
}

void TCPLSetupForm::BuildAboutTab() {
  QWidget* tab = TabSheet2;
  Image1 = MakeIcon(tab, "Image1", 8, 8);
  Label6 = Make<QLabel>(tab, "Label6");
  Label6->setText(T("Quillon web server 1.0.7"));
  QFont title(T("Times New Roman"));
  title.setPixelSize(24);
  title.setBold(true);
  title.setItalic(true);
  Label6->setFont(title);
  QPalette blue = Label6->palette();
  blue.setColor(QPalette::WindowText, Qt::blue);
  Label6->setPalette(blue);
  Label6->adjustSize();
  Label6->move(48, 16);
  Memo1 = MakeMemo(tab, "Memo1", QRect(8, 48, 473, 217),
                   Lines({"Malý vícevláknový webový server pro protokol HTTP/1.0 a pro bezpečné",
                          "spojení HTTPS (SSL).", "", "Server umí:", "    * posílat soubory a výpisy adresářů,",
                          "    * spouštět programy CGI a rozšíření ISAPI,",
                          "    * zpracovat dokumenty s příkazy SSI,",
                          "    * obsluhovat virtuální servery a zástupce adresářů,",
                          "    * chránit adresáře heslem nebo požadavkem na HTTPS (soubory http.aut),",
                          "    * protokolovat přístupy a chyby.", "",
                          "Změny nastavení se projeví při dalším spuštění serveru.", "",
                          "Copyright © Kestrane. Všechna práva vyhrazena."}));
  Memo1->setBackgroundRole(QPalette::Window);
  Memo1->viewport()->setBackgroundRole(QPalette::Window);
}

void TCPLSetupForm::BuildPanelAndMenus() {
  Panel1 = Make<QWidget>(this, "Panel1");
  Panel1->setGeometry(0, kClientHeight - kPanelHeight, kClientWidth, kPanelHeight);
  Button2 = Make<QPushButton>(Panel1, "Button2");
  Button2->setText(T("OK"));
  Button2->setDefault(true);
  Button2->setGeometry(320, 8, 75, 25);
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  Button1 = Make<QPushButton>(Panel1, "Button1");
  Button1->setText(T("Zruš"));
  Button1->setGeometry(408, 8, 75, 25);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

  auto deleteItem = [](QMenu* menu, const char* name) {
    QAction* action = menu->addAction(T("Smaž položku"));
    action->setObjectName(T(name));
    menu->setDefaultAction(action);
    return action;
  };
  MimeMenu = Make<QMenu>(this, "MimeMenu");
  Smapoloku1 = deleteItem(MimeMenu, "Smapoloku1");
  NahrajMIME = MimeMenu->addAction(T("Nahraj MIME typy z registru"));
  NahrajMIME->setObjectName(T("NahrajMIME"));
  SvrMenu = Make<QMenu>(this, "SvrMenu");
  Smapoloku2 = deleteItem(SvrMenu, "Smapoloku2");
  ZastMenu = Make<QMenu>(this, "ZastMenu");
  MenuItem1 = deleteItem(ZastMenu, "MenuItem1");
  InterMenu = Make<QMenu>(this, "InterMenu");
  MenuItem2 = deleteItem(InterMenu, "MenuItem2");

  connect(Smapoloku1, &QAction::triggered, this, [this] { Smapoloku1Click(); });
  connect(NahrajMIME, &QAction::triggered, this, [this] { NahrajMIMEClick(); });
  connect(Smapoloku2, &QAction::triggered, this, [this] { Smapoloku2Click(); });
  connect(MenuItem1, &QAction::triggered, this, [this] { MenuItem1Click(); });
  connect(MenuItem2, &QAction::triggered, this, [this] { MenuItem2Click(); });

  AttachMenu(MimeList, MimeMenu);
  AttachMenu(VirtualList, SvrMenu);
  AttachMenu(AppList, InterMenu);
  // The alias command belongs to the whole tab control: it is what a right
  // click shows wherever no list has a menu of its own.
  PageControl1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(PageControl1, &QWidget::customContextMenuRequested, ZastMenu,
          [this](const QPoint& pos) { ZastMenu->popup(PageControl1->mapToGlobal(pos)); });
}

void TCPLSetupForm::FormCreate() {
  const std::string error = Setup.Load();
  ShowValues();
  if (!error.empty()) ErrorBox(T(error));
}

void TCPLSetupForm::ShowValues() {
  index->setText(T(Setup.Index));
  Port->setValue(Setup.Port);
  ProtFile->setText(T(Setup.ProtFile));
  DoProt->setChecked(Setup.DoProt);
  SSLon->setChecked(Setup.SSLon);
  NewLogFile->setChecked(Setup.NewLogFile);
  ShowList(MimeList, Setup.MimeList);
  ShowList(AliasList, Setup.AliasList);
  ShowList(AppList, Setup.AppList);
  ShowList(VirtualList, Setup.VirtualList);
}

void TCPLSetupForm::ShowList(QTreeWidget* view, const TItemList& list) {
  Filling = true;
  view->clear();
  const bool virtualServers = view == VirtualList;
  for (const TListItem& entry : list) {
    QStringList texts{T(entry.Caption)};
    for (const std::string& sub : entry.SubItems) texts.append(T(sub));
    auto* item = new QTreeWidgetItem(view, texts);
    if (entry.ImageIndex >= 0) item->setIcon(0, QIcon(QPixmap::fromImage(ListIconImage(entry.ImageIndex))));
    if (virtualServers) {
      item->setFlags(item->flags() | Qt::ItemIsEditable);
      item->setTextAlignment(1, Qt::AlignCenter);
    }
  }
  Filling = false;
}

void TCPLSetupForm::VirtualNameEdited(int row, const QString& text) {
  if (row >= 0 && row < static_cast<int>(Setup.VirtualList.size()))
    Setup.VirtualList[row].Caption = QStringToCp1250(text);
}

void TCPLSetupForm::ErrorBox(const QString& text) {
  if (ErrorBoxHook) {
    ErrorBoxHook(text);
    return;
  }
  QMessageBox box(QMessageBox::Critical, T("Chyba"), text, QMessageBox::Yes, this);
  box.exec();
}

void TCPLSetupForm::Button2Click() {
  Setup.Port = TSetupModel::PortFromText(QStringToCp1250(Port->cleanText()));
  Setup.Index = QStringToCp1250(index->text());
  Setup.ProtFile = QStringToCp1250(ProtFile->text());
  Setup.DoProt = DoProt->isChecked();
  Setup.SSLon = SSLon->isChecked();
  Setup.NewLogFile = NewLogFile->isChecked();
  std::string error;
  if (Setup.Save(error) == TSetupModel::TSaveResult::WriteFailed) {
    ErrorBox(T(error));
    return;
  }
  accept();
}

void TCPLSetupForm::Button1Click() { reject(); }

bool TCPLSetupForm::Added(TSetupModel::TEditResult result) {
  switch (result) {
    case TSetupModel::TEditResult::Done:
      return true;
    case TSetupModel::TEditResult::Duplicate:
      ErrorBox(T("Nelze mít duplicitní záznamy"));
      return false;
    case TSetupModel::TEditResult::Refused:
      ErrorBox(T(kRefusedEntry));
      return false;
    case TSetupModel::TEditResult::Ignored:
      return false;
  }
  return false;
}

void TCPLSetupForm::SpeedButton1Click() {
  if (Added(Setup.AddMime(QStringToCp1250(Ext->text()), QStringToCp1250(MimeType->text()))))
    ShowList(MimeList, Setup.MimeList);
}

void TCPLSetupForm::SpeedButton3Click() {
  const int kind = SvrTypeHttps->isChecked() ? 1 : 0;
  if (Added(Setup.AddVirtual(QStringToCp1250(SvrName->text()), kind)))
    ShowList(VirtualList, Setup.VirtualList);
}

void TCPLSetupForm::SpeedButton2Click() {
  const std::string server = Servers->currentIndex() < 0 ? std::string() : QStringToCp1250(Servers->currentText());
  std::string prefix = QStringToCp1250(Alias->text());
  std::string directory = QStringToCp1250(WitchDir->text());
  if (!Added(Setup.AddAlias(server, prefix, directory))) return;
  Alias->setText(T(prefix));
  WitchDir->setText(T(directory));
  ShowList(AliasList, Setup.AliasList);
}

void TCPLSetupForm::AddBtnIClick() {
  if (Added(Setup.AddApp(QStringToCp1250(ExtI->text()), QStringToCp1250(AppI->text()))))
    ShowList(AppList, Setup.AppList);
}

void TCPLSetupForm::Smapoloku1Click() {
  if (Setup.DeleteMime(SelectedRow(MimeList)) == TSetupModel::TEditResult::Done) ShowList(MimeList, Setup.MimeList);
}

void TCPLSetupForm::NahrajMIMEClick() {
  if (Setup.ImportMime() > 0) ShowList(MimeList, Setup.MimeList);
}

void TCPLSetupForm::Smapoloku2Click() {
  switch (Setup.DeleteVirtual(SelectedRow(VirtualList))) {
    case TSetupModel::TEditResult::Refused:
      ErrorBox(T("Nelze smazat standartní server"));
      break;
    case TSetupModel::TEditResult::Done:
      ShowList(VirtualList, Setup.VirtualList);
      break;
    default:
      break;
  }
}

void TCPLSetupForm::MenuItem1Click() {
  if (Setup.DeleteAlias(SelectedRow(AliasList)) == TSetupModel::TEditResult::Done)
    ShowList(AliasList, Setup.AliasList);
}

void TCPLSetupForm::MenuItem2Click() {
  if (Setup.DeleteApp(SelectedRow(AppList)) == TSetupModel::TEditResult::Done) ShowList(AppList, Setup.AppList);
}

void TCPLSetupForm::TabSheet4Enter() {
  Servers->clear();
  for (const std::string& choice : Setup.ServerChoices()) Servers->addItem(T(choice));
  Servers->setCurrentIndex(-1);
}
