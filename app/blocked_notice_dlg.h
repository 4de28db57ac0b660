#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "firewall/com/blocked_flow.h"
#include "firewall/com/status.h"
#include "framework/controls.h"
#include "framework/dialog.h"

// The notice that the firewall has blocked a program from accepting connections: a window of
// its own over the main window that leaves the main window usable, showing one block at a
// time. Blocks that come meanwhile wait, the newest of each program, protocol and port, and
// show one after another.
//
// Keep Blocking: nothing changes, and that program, protocol and port raise no notice again
// while the window runs. Unblock: the program is authorized, enabled, named after its file;
// a refusal shows its reason and the notice stays. Ask Me Later (Escape, the close box): the
// notice goes, and the next block shows it again.
class CBlockedNoticeDlg : public CDialog {
 public:
  // Authorizes the program at `path`, enabled, as `name`; or says why not.
  using Unblock = std::function<Status(const QString& path, const QString& name)>;
  // Blocks waiting behind the one shown; past this, the one that waited longest is dropped
  // (the firewall tells of a program again while it goes on being blocked).
  static constexpr std::size_t kMostWaiting = 8;

  CBlockedNoticeDlg(QWidget* owner, Unblock unblock);

  // Shows a block of a program that listened, now or once those before it are answered;
  // blocks of one the user keeps blocking show nothing.
  void Notice(const BlockedFlow& blocked);

  CStatic m_name;
  CStatic m_port;
  CStatic m_remote;
  CStatic m_count;
  QString m_strPath;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  const MessageMap* GetMessageMap() const override;
  void OnCancel() override;

 private:
  using Key = std::tuple<std::string, std::uint8_t, std::uint16_t>;  // program, protocol, port
  static Key KeyOf(const BlockedFlow& blocked);

  void Show(const BlockedFlow& blocked);
  void ShowNext();
  void OnKeepBlocking();
  void OnUnblock();

  Unblock m_unblock;
  std::optional<BlockedFlow> m_shown;
  std::deque<BlockedFlow> m_waiting;  // oldest first, one per key
  std::set<Key> m_keptBlocked;
};
