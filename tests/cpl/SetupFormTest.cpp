#include "cpl/mainform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "common/RegNames.h"
#include "cpl/ChooserEdit.h"
#include "cpl/Cp1250.h"
#include "tests/cpl/CplTestSupport.h"

using cpltest::Integer;
using cpltest::PutInteger;
using cpltest::PutList;
using cpltest::PutString;
using cpltest::String;

namespace {

void PutCompleteKey() {
  PutString(reg::kDefaultHTML, "index.html");
  PutInteger(reg::kPort, 80);
  PutString(reg::kProtFile, "c:\\logs");
  PutInteger(reg::kDoProt, 1);
  PutInteger(reg::kSSLon, 0);
  PutInteger(reg::kNewLogFile, 0);
  PutList(reg::kMime, {});
  PutList(reg::kAlias, {});
  PutList(reg::kApp, {});
  PutList(reg::kVirt, {"*,HTTP"});
}

class SetupFormTest : public ::testing::Test {
 protected:
  void SetUp() override { cpltest::EnsureApplication(); }

  // A dialog whose error boxes are collected instead of shown.
  std::unique_ptr<TCPLSetupForm> Open() {
    return std::make_unique<TCPLSetupForm>(nullptr, [this](const QString& text) { Boxes.push_back(text); });
  }

  static void Select(QTreeWidget* list, int row) {
    list->setCurrentItem(list->topLevelItem(row));
    ASSERT_TRUE(list->currentItem() && list->currentItem()->isSelected());
  }

  static QStringList Row(QTreeWidget* list, int row) {
    QStringList texts;
    QTreeWidgetItem* item = list->topLevelItem(row);
    for (int c = 0; item && c < item->columnCount(); ++c) texts.append(item->text(c));
    return texts;
  }

  cpltest::TScratchRegistry Scratch;
  std::vector<QString> Boxes;
};

}  // namespace

TEST_F(SetupFormTest, LaysOutTheDesignedWindow) {
  auto form = Open();
  EXPECT_EQ(form->windowTitle(), Q16(u"Quillon web server - nastavení"));
  EXPECT_EQ(form->size(), QSize(490, 347));
  EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the window has a fixed size";

  QTabWidget* tabs = form->PageControl1;
  const char16_t* titles[] = {u"Nastavení servru", u"MIME typy", u"Virtuální servery",
                              u"Zástupci", u"Interpreti", u"O programu"};
  const char* sheets[] = {"TabSheet1", "TabSheet3", "TabSheet6", "TabSheet4", "TabSheet5", "TabSheet2"};
  ASSERT_EQ(tabs->count(), 6);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(tabs->tabText(i), Q16(titles[i]));
    EXPECT_EQ(tabs->widget(i)->objectName(), QLatin1String(sheets[i]));
  }
  EXPECT_EQ(tabs->currentWidget(), form->TabSheet2) << "the dialog opens on \"O programu\"";

  // Every component is there under its own name.
  for (const char* name : {"Image2", "Label1", "Port", "Label3", "index", "DoProt", "ProtFile", "NewLogFile",
                           "SSLon", "MimeList", "Label7", "Ext", "Label8", "MimeType", "SpeedButton1",
                           "VirtualList", "Label4", "SvrName", "SvrType", "SpeedButton3", "AliasList", "Label2",
                           "Alias", "Label5", "Servers", "Label9", "WitchDir", "SpeedButton2", "AppList",
                           "Label10", "ExtI", "Label11", "AppI", "AddBtnI", "Memo2", "Image1", "Label6", "Memo1",
                           "Panel1", "Button2", "Button1", "MimeMenu", "SvrMenu", "ZastMenu", "InterMenu"})
    EXPECT_NE(form->findChild<QObject*>(QLatin1String(name)), nullptr) << name;

  EXPECT_EQ(form->Port->geometry(), QRect(72, 32, 89, 22));
  EXPECT_EQ(form->Port->minimum(), 1);
  EXPECT_EQ(form->Port->maximum(), 10000);
  EXPECT_EQ(form->index->geometry(), QRect(168, 32, 129, 21));
  EXPECT_EQ(form->index->toolTip(), Q16(u"Zde napište soubor, který se má ukázat\npokud uživatel zadá jen název "
                                            u"adresáře.\nPokud chcete více možností, oddělte je\nčárkou."));
  EXPECT_TRUE(form->DoProt->isChecked());
  EXPECT_FALSE(form->DoProt->isEnabled());
  EXPECT_EQ(form->ProtFile->geometry(), QRect(16, 80, 433, 21));
  EXPECT_EQ(form->MimeList->geometry(), QRect(0, 0, 279, 273));
  EXPECT_EQ(form->MimeList->columnWidth(0), 54);
  EXPECT_EQ(form->MimeList->headerItem()->text(1), Q16(u"MIME typ"));
  EXPECT_EQ(form->MimeType->text(), Q16(u"application/"));
  EXPECT_EQ(form->AliasList->headerItem()->text(2), Q16(u"Čím zastoupit"));
  EXPECT_EQ(form->AppList->geometry(), QRect(-1, 0, 482, 145));
  EXPECT_EQ(form->AppI->text(), Q16(u"c:\\*.exe"));
  EXPECT_EQ(form->WitchDir->text(), Q16(u"c:\\"));
  EXPECT_EQ(form->Servers->count(), 1);
  EXPECT_EQ(form->Servers->currentIndex(), -1);
  EXPECT_EQ(form->SvrTypeHttp->text(), Q16(u"Standartní HTTP server"));
  EXPECT_EQ(form->SvrTypeHttps->text(), Q16(u"Bezpečný HTTPS server (SSL)"));
  EXPECT_TRUE(form->SvrTypeHttp->isChecked());
  EXPECT_TRUE(form->Memo2->toPlainText().contains(Q16(u"\"tovk/isapi\"")));
  EXPECT_EQ(form->SpeedButton1->text(), Q16(u"Přidej"));
  EXPECT_EQ(form->Button2->geometry(), QRect(320, 8, 75, 25));
  EXPECT_TRUE(form->Button2->isDefault());
  EXPECT_EQ(form->Button1->text(), Q16(u"Zruš"));
  EXPECT_EQ(form->MimeMenu->defaultAction(), form->Smapoloku1);
  EXPECT_EQ(form->NahrajMIME->text(), Q16(u"Nahraj MIME typy z registru"));
  EXPECT_EQ(form->Smapoloku2->text(), Q16(u"Smaž položku"));
}

TEST_F(SetupFormTest, OkWithoutAKeyCreatesItWithTheDesignValues) {
  auto form = Open();
  EXPECT_EQ(form->Port->value(), 80);
  EXPECT_EQ(form->index->text(), Q16(u"index.html"));
  EXPECT_EQ(form->ProtFile->text(), Q16(u"ProtFile"));
  ASSERT_EQ(form->VirtualList->topLevelItemCount(), 1);
  EXPECT_EQ(Row(form->VirtualList, 0), (QStringList{Q16(u"*"), Q16(u"HTTP")}));

  form->Button2->click();
  EXPECT_EQ(form->result(), QDialog::Accepted);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(Integer(reg::kPort), 80);
  EXPECT_EQ(String(reg::kDefaultHTML), "index.html");
  EXPECT_EQ(String(reg::kProtFile), "ProtFile");
  EXPECT_EQ(Integer(reg::kDoProt), 1);
  EXPECT_EQ(Integer(reg::kSSLon), 0);
  EXPECT_EQ(Integer(reg::kNewLogFile), 0);
  EXPECT_EQ(Integer("MIME num"), 0);
  EXPECT_EQ(Integer("Alias num"), 0);
  EXPECT_EQ(Integer("App num"), 0);
  EXPECT_EQ(Integer("Virt num"), 1);
  EXPECT_EQ(String("Virt 1"), "*,HTTP");
}

TEST_F(SetupFormTest, PortIsShownClampedAndAnEmptyFieldSavesTheMinimum) {
  PutCompleteKey();
  PutInteger(reg::kPort, 20000);
  auto form = Open();
  EXPECT_EQ(form->Port->value(), 10000);
  form->SSLon->setChecked(true);
  form->Button2->click();
  EXPECT_EQ(Integer(reg::kPort), 10000);
  EXPECT_EQ(Integer(reg::kSSLon), 1);

  auto again = Open();
  again->Port->clear();
  again->Button2->click();
  EXPECT_EQ(Integer(reg::kPort), 1);
}

TEST_F(SetupFormTest, AnAliasIsNormalisedAndSavedForTheChosenServer) {
  PutCompleteKey();
  auto form = Open();
  form->SpeedButton2->click();  // nothing chosen yet: silently nothing
  EXPECT_EQ(form->AliasList->topLevelItemCount(), 0);

  form->PageControl1->setCurrentWidget(form->TabSheet4);
  ASSERT_EQ(form->Servers->count(), 1);
  EXPECT_EQ(form->Servers->itemText(0), Q16(u"* (HTTP)"));
  EXPECT_EQ(form->Servers->currentIndex(), -1);
  form->Servers->setCurrentIndex(0);
  form->Alias->setText(QStringLiteral("cgi"));
  form->WitchDir->setText(QStringLiteral("c:\\cgi\\"));
  form->SpeedButton2->click();
  EXPECT_EQ(form->Alias->text(), QStringLiteral("/cgi"));
  EXPECT_EQ(form->WitchDir->text(), QStringLiteral("c:\\cgi"));
  ASSERT_EQ(form->AliasList->topLevelItemCount(), 1);
  EXPECT_EQ(Row(form->AliasList, 0), (QStringList{QStringLiteral("* (HTTP)"), QStringLiteral("/cgi"),
                                                  QStringLiteral("c:\\cgi")}));

  form->Button2->click();
  EXPECT_EQ(Integer("Alias num"), 1);
  EXPECT_EQ(String("Alias 1"), "* (HTTP),/cgi,c:\\cgi");
}

TEST_F(SetupFormTest, EnteringTheAliasTabOffersEveryVirtualServer) {
  PutCompleteKey();
  PutList(reg::kVirt, {"*,HTTP", "www.a.cz,HTTPS"});
  auto form = Open();
  form->SvrName->setText(QStringLiteral("b"));
  form->SpeedButton3->click();
  form->PageControl1->setCurrentWidget(form->TabSheet4);
  ASSERT_EQ(form->Servers->count(), 3);
  EXPECT_EQ(form->Servers->itemText(1), QStringLiteral("www.a.cz (HTTPS)"));
  EXPECT_EQ(form->Servers->itemText(2), QStringLiteral("b (HTTP)"));
}

TEST_F(SetupFormTest, DuplicatesAndTheStandardServerShowTheirBoxes) {
  PutCompleteKey();
  PutList(reg::kVirt, {"*,HTTP", "server1,HTTP"});
  PutList(reg::kApp, {"pl,c:\\perl.exe"});
  auto form = Open();

  form->SvrName->setText(QStringLiteral("SERVER1"));
  form->SpeedButton3->click();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], Q16(u"Nelze mít duplicitní záznamy"));
  EXPECT_EQ(form->VirtualList->topLevelItemCount(), 2);

  form->SvrTypeHttps->setChecked(true);
  form->SpeedButton3->click();
  EXPECT_EQ(Boxes.size(), 1u);
  ASSERT_EQ(form->VirtualList->topLevelItemCount(), 3);
  EXPECT_EQ(Row(form->VirtualList, 2), (QStringList{QStringLiteral("SERVER1"), QStringLiteral("HTTPS")}));

  form->ExtI->setText(QStringLiteral("PL"));
  form->AddBtnI->click();
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[1], Q16(u"Nelze mít duplicitní záznamy"));
  EXPECT_EQ(form->AppList->topLevelItemCount(), 1);

  Select(form->VirtualList, 0);
  form->Smapoloku2->trigger();
  ASSERT_EQ(Boxes.size(), 3u);
  EXPECT_EQ(Boxes[2], Q16(u"Nelze smazat standartní server"));
  EXPECT_EQ(form->VirtualList->topLevelItemCount(), 3);

  Select(form->VirtualList, 1);
  form->Smapoloku2->trigger();
  EXPECT_EQ(Boxes.size(), 3u);
  EXPECT_EQ(form->VirtualList->topLevelItemCount(), 2);

  form->VirtualList->clearSelection();
  form->Smapoloku2->trigger();  // nothing selected: nothing happens
  EXPECT_EQ(form->VirtualList->topLevelItemCount(), 2);

  form->Button2->click();
  EXPECT_EQ(Integer("Virt num"), 2);
  EXPECT_EQ(String("Virt 2"), "SERVER1,HTTPS");
}

TEST_F(SetupFormTest, InterpretersAndMimeTypesAreAddedFromTheirFields) {
  PutCompleteKey();
  auto form = Open();
  form->ExtI->setText(QStringLiteral("pl"));
  form->AppI->setText(QStringLiteral("c:\\perl\\bin\\perl.exe -w"));
  form->AddBtnI->click();
  form->Ext->setText(QStringLiteral("svg"));
  form->MimeType->setText(QStringLiteral("image/svg+xml"));
  form->SpeedButton1->click();
  form->Button2->click();
  EXPECT_EQ(String("App 1"), "pl,c:\\perl\\bin\\perl.exe");
  EXPECT_EQ(String("MIME 1"), "svg,image/svg+xml");
}

TEST_F(SetupFormTest, MimeImportAddsTheClassesContentTypes) {
  PutCompleteKey();
  Scratch.SetMimeTypes("text/plain txt\n");
  auto form = Open();
  form->NahrajMIME->trigger();
  ASSERT_EQ(form->MimeList->topLevelItemCount(), 1);
  EXPECT_EQ(Row(form->MimeList, 0), (QStringList{QStringLiteral("txt"), QStringLiteral("text/plain")}));
  EXPECT_FALSE(form->MimeList->topLevelItem(0)->icon(0).isNull());
}

TEST_F(SetupFormTest, ShrinkingTheMimeListLeavesTheEntriesAboveTheCount) {
  PutCompleteKey();
  PutList(reg::kMime, {"a,1", "b,2", "c,3", "d,4", "e,5"});
  auto form = Open();
  ASSERT_EQ(form->MimeList->topLevelItemCount(), 5);
  Select(form->MimeList, 4);
  form->Smapoloku1->trigger();
  Select(form->MimeList, 1);
  form->Smapoloku1->trigger();
  form->Button2->click();
  EXPECT_EQ(Integer("MIME num"), 3);
  EXPECT_EQ(String("MIME 1"), "a,1");
  EXPECT_EQ(String("MIME 2"), "c,3");
  EXPECT_EQ(String("MIME 3"), "d,4");
  EXPECT_EQ(String("MIME 4"), "d,4");
  EXPECT_EQ(String("MIME 5"), "e,5");
}

TEST_F(SetupFormTest, AliasesAndInterpretersAreDeletedFromTheirMenus) {
  PutCompleteKey();
  PutList(reg::kAlias, {"* (HTTP),/,c:\\www\\", "* (HTTP),/cgi,c:\\cgi"});
  PutList(reg::kApp, {"pl,perl", "cgi,tovk/exec"});
  auto form = Open();
  Select(form->AliasList, 0);
  form->MenuItem1->trigger();
  Select(form->AppList, 1);
  form->MenuItem2->trigger();
  form->Button2->click();
  EXPECT_EQ(Integer("Alias num"), 1);
  EXPECT_EQ(String("Alias 1"), "* (HTTP),/cgi,c:\\cgi");
  EXPECT_EQ(Integer("App num"), 1);
  EXPECT_EQ(String("App 1"), "pl,perl");
}

TEST_F(SetupFormTest, CancelEscapeAndCloseWriteNothing) {
  {
    auto form = Open();
    form->Port->setValue(81);
    form->Button1->click();
    EXPECT_EQ(form->result(), QDialog::Rejected);
  }
  {
    auto form = Open();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->index->setText(QStringLiteral("x.html"));
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
  }
  {
    auto form = Open();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    form->close();
    EXPECT_EQ(form->result(), QDialog::Rejected);
  }
  EXPECT_FALSE(cpltest::KeyExists());
}

TEST_F(SetupFormTest, AFailedReadIsShownAndTheRestKeepsItsDesignValues) {
  PutString(reg::kDefaultHTML, "a.htm");
  PutInteger(reg::kPort, 81);
  PutList(reg::kMime, {"a,b"});
  auto form = Open();
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], QStringLiteral("Failed to get data for 'DoProt'"));
  EXPECT_EQ(form->index->text(), QStringLiteral("a.htm"));
  EXPECT_EQ(form->Port->value(), 81);
  EXPECT_EQ(form->MimeList->topLevelItemCount(), 0);
  EXPECT_EQ(form->VirtualList->topLevelItemCount(), 1);
}

TEST_F(SetupFormTest, OkClosesWithoutWritingWhenTheKeyCannotBeOpened) {
  tovktest::WriteFile(Scratch.Dir() / "plain", "x");
  setenv("TOVK_REGISTRY", (Scratch.Dir() / "plain/registry.db").c_str(), 1);
  auto form = Open();
  form->Button2->click();
  EXPECT_EQ(form->result(), QDialog::Accepted);
  EXPECT_TRUE(Boxes.empty());
  EXPECT_EQ(tovktest::ReadFile(Scratch.Dir() / "plain"), "x");
}

TEST_F(SetupFormTest, Windows1250TextsAreShownAndWrittenBackUnchanged) {
  PutCompleteKey();
  std::string bytes;
  for (int b = 0x20; b < 0x100; ++b) bytes.push_back(static_cast<char>(b));
  PutString(reg::kProtFile, bytes);
  PutString(reg::kDefaultHTML, "úvod.html,čeština.htm");
  PutList(reg::kVirt, {"*,HTTP", "žluťoučký.cz,HTTP"});
  auto form = Open();
  EXPECT_EQ(form->index->text(), Q16(u"úvod.html,čeština.htm"));
  EXPECT_EQ(form->VirtualList->topLevelItem(1)->text(0), Q16(u"žluťoučký.cz"));

  // A name edited in place is written in the code page too.
  form->VirtualList->topLevelItem(1)->setText(0, Q16(u"kůň.cz"));
  form->Button2->click();
  EXPECT_EQ(String(reg::kProtFile), bytes);
  EXPECT_EQ(String(reg::kDefaultHTML), "úvod.html,čeština.htm");
  EXPECT_EQ(String("Virt 2"), "kůň.cz,HTTP");
  EXPECT_EQ(String("Virt 2"), "k\xF9\xF2.cz,HTTP");
}

TEST_F(SetupFormTest, RightClicksOpenTheMenuOfTheListOrOfTheTabControl) {
  auto form = Open();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  struct Case {
    QWidget* Sheet;
    QWidget* Target;
    QMenu* Menu;
  } cases[] = {
      {form->TabSheet3, form->MimeList->viewport(), form->MimeMenu},
      {form->TabSheet6, form->VirtualList->viewport(), form->SvrMenu},
      {form->TabSheet5, form->AppList->viewport(), form->InterMenu},
      // The alias list has no menu of its own: the tab control's applies.
      {form->TabSheet4, form->AliasList->viewport(), form->ZastMenu},
      {form->TabSheet1, form->TabSheet1, form->ZastMenu},
  };
  for (const Case& c : cases) {
    form->PageControl1->setCurrentWidget(c.Sheet);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), c.Target->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(c.Target, &event);
    EXPECT_TRUE(c.Menu->isVisible()) << c.Menu->objectName().toStdString();
    for (QMenu* menu : {form->MimeMenu, form->SvrMenu, form->InterMenu, form->ZastMenu}) {
      if (menu != c.Menu) {
        EXPECT_FALSE(menu->isVisible()) << menu->objectName().toStdString();
      }
    }
    c.Menu->hide();
  }
}
