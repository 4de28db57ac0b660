// The real program as a user of the test world runs it, in service mode, driven through its
// pages as a user would. Each action is a few arguments; what the window shows is printed:
//   add-port NUMBER tcp|udp NAME   type the port on the ports page and press "Add Port"
//   add-ports FIRST COUNT          the same for COUNT ports from FIRST on, one after another
//   on | off                       click the radio button
//   wait-for FILE                  serve the window until FILE exists (the test restarts the
//                                  service meanwhile)
//   show                           print the radio buttons' state and the ports page's rows
#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "app/brenvo_main.h"
#include "app/firewall_app.h"
#include "app/firewall_dlg.h"
#include "pages/port_dlg.h"
#include "resources/resource.h"
#include "tests/pages/list_rows.h"
#include "tests/support/recording_services.h"
#include "tests/support/silent_capture.h"

CfirewallApp theApp;

namespace {

void Type(CDialog& page, int id, const QString& text) {
  auto* edit = qobject_cast<QLineEdit*>(page.GetDlgItem(id));
  edit->clear();
  QTest::keyClicks(edit, text);
}

void AddPort(CfirewallDlg& window, const QString& number, const QString& protocol, const QString& name) {
  CPortDlg& ports = *window.m_pPortPage;
  Type(ports, IDC_PORT_NAME, name);
  Type(ports, IDC_PORT_NUMBER, number);
  QTest::mouseClick(ports.GetDlgItem(protocol == "udp" ? IDC_UDP : IDC_TCP), Qt::LeftButton);
  QTest::mouseClick(ports.GetDlgItem(IDC_ADD_PORT), Qt::LeftButton);
}

void Show(CfirewallDlg& window) {
  std::printf("firewall: %s\n", window.IsDlgButtonChecked(IDC_FIREWALL_ON) ? "on" : "off");
  for (const QString& row : ListRows(window.m_pPortPage->m_list)) std::printf("port-row: %s\n", qPrintable(row));
  std::fflush(stdout);
}

void Act(CfirewallDlg& window, const std::vector<QString>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const QString& action = args[i];
    if (action == "add-port" && i + 3 < args.size()) {
      AddPort(window, args[i + 1], args[i + 2], args[i + 3]);
      i += 3;
    } else if (action == "add-ports" && i + 2 < args.size()) {
      const int first = args[i + 1].toInt(), count = args[i + 2].toInt();
      for (int port = first; port < first + count; ++port)
        AddPort(window, QString::number(port), "tcp", QStringLiteral("port %1").arg(port));
      i += 2;
    } else if (action == "on" || action == "off") {
      QTest::mouseClick(window.GetDlgItem(action == "on" ? IDC_FIREWALL_ON : IDC_FIREWALL_OFF), Qt::LeftButton);
    } else if (action == "wait-for" && i + 1 < args.size()) {
      if (!QTest::qWaitFor([&] { return QFileInfo::exists(args[i + 1]); }, 60000))
        std::fprintf(stderr, "window_driver: %s never came\n", qPrintable(args[i + 1]));
      ++i;
    } else if (action == "show") {
      Show(window);
    } else {
      std::fprintf(stderr, "window_driver: cannot do %s\n", qPrintable(action));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<QString> actions;
  for (int i = 1; i < argc; ++i) actions.push_back(QString::fromLocal8Bit(argv[i]));
  ScopedRecordingServices services;
  ScopedSilentCapture capture;
  QTimer::singleShot(0, [&actions] {
    auto* window = dynamic_cast<CfirewallDlg*>(QApplication::activeModalWidget());
    if (!window) return;
    Act(*window, actions);
    QTest::mouseClick(window->GetDlgItem(IDCANCEL), Qt::LeftButton);
  });
  std::vector<std::string> args{"brenvo", "-platform", "offscreen", "--firewall=service"};
  std::vector<char*> argvOfProgram;
  for (std::string& arg : args) argvOfProgram.push_back(arg.data());
  const int status = BrenvoMain(int(argvOfProgram.size()), argvOfProgram.data());
  for (const auto& box : services.boxes) std::printf("message-box: %s\n", qPrintable(box.text));
  return status;
}
