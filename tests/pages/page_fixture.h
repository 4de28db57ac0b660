#pragma once
// The two pages in a main window of their own over a temporary store, and the ways a user
// and a test reach them: clicks at cell centres, typing, and the store read directly.
#include <gtest/gtest.h>
#include <QDialog>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include "firewall/firewall.h"
#include "firewall/store/firewall_store.h"
#include "pages/port_dlg.h"
#include "pages/program_dlg.h"
#include "tests/pages/list_rows.h"
#include "tests/support/recording_services.h"

// A main window as the pages see it: a top-level dialog (so an Escape that got through would
// close it) that runs the firewall operations and lists into its two pages.
class HostWindow : public QDialog, public CFirewall {
 public:
  HostWindow();
  ~HostWindow() override;

  CProgramDlg* m_pProgramPage;
  CPortDlg* m_pPortPage;

 protected:
  void ShowFirewallUnavailable() override;
  void EndMainDialog(int) override {}
  void WaitBeforeRetry(unsigned) override {}
  IProgramRowSink* ProgramRows() override { return m_pProgramPage; }
  IPortRowSink* PortRows() override { return m_pPortPage; }
};

// Holds the store's write lock for its life, as another process changing the store would:
// every change the pages ask for fails, reads go on.
class StoreLock {
 public:
  explicit StoreLock(const std::string& path);
  ~StoreLock();

 private:
  std::unique_ptr<FirewallStore> m_store;
};

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the host window; entries stored before are listed then.
  void OpenWindow();
  std::string DatabasePath() const { return (m_dir.path() + "/firewall.db").toStdString(); }

  // Writes entries straight into the store, past the checks of the firewall's objects.
  void StoreApp(const std::u16string& path, const std::u16string& name, bool enabled);
  void StorePort(LONG number, LONG protocol, const std::u16string& name, bool enabled);
  // The store's entries as "name|path|enabled" and "name|number/protocol|enabled".
  QStringList StoredApps();
  QStringList StoredPorts();

  // A list's rows as "check|text|text|...", after checking that m_nRows counts them.
  template <class Page>
  static QStringList Rows(const Page& page) {
    EXPECT_EQ(page.m_nRows, page.m_list.GetItemCount());
    return ListRows(page.m_list);
  }
  // The header's items as "title:width:image", the image "-" without HDF_IMAGE.
  static QStringList HeaderItems(const CXListCtrl& list);

  static void ClickCell(CXListCtrl& list, int row, int column);
  // Presses the left button at one point of the list's rows, moves to another and releases
  // it there, as a hand that slips does.
  static void PressMoveRelease(CXListCtrl& list, QPoint press, QPoint release);
  static QPoint CellCentre(const CXListCtrl& list, int row, int column);
  static void ClickHeader(CXListCtrl& list, int column);
  static void Click(CDialog& page, int id);
  static void Type(CDialog& page, int id, const QString& text);
  static QString Text(CDialog& page, int id);
  // The texts of the message boxes shown so far.
  QStringList Messages() const;

  QTemporaryDir m_dir;
  ScopedRecordingServices m_services;
  std::unique_ptr<HostWindow> m_window;
};
