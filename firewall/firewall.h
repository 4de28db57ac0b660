#pragma once
// The firewall operations of the main window: the current profile (opened with retries,
// on/off), the authorized applications and the globally open ports. The main window
// derives from this class, so the operations are its members; the hooks below are where
// it shows and ends things.
//
// Every operation that returns an FW_ERROR_CODE sets its out-parameters first, raises the
// code of the first step that fails, catches it itself and returns it; what it holds is
// released on both paths. The two listings return nothing.
#include "firewall/com/bstr.h"
#include "firewall/com/com_ptr.h"
#include "firewall/com/netfw.h"
#include "firewall/fw_error.h"
#include "firewall/row_sinks.h"

class CFirewall {
 public:
  CFirewall() = default;
  CFirewall(const CFirewall&) = delete;
  CFirewall& operator=(const CFirewall&) = delete;
  virtual ~CFirewall();

  // Once, after CoInitialize: opens the current profile, retrying 20 times 5 seconds apart.
  FW_ERROR_CODE InitFirewallProfile();
  FW_ERROR_CODE QueryFirewallOn(BOOL* on);
  FW_ERROR_CODE SwitchFirewallOn();
  FW_ERROR_CODE SwitchFirewallOff();
  FW_ERROR_CODE ReleaseFirewallProfile();

  FW_ERROR_CODE QueryAppEnabled(const OLECHAR* path, BOOL* enabled);
  FW_ERROR_CODE AddApp(const OLECHAR* path, const OLECHAR* name);
  FW_ERROR_CODE RemoveApp(const OLECHAR* path);
  // Writes the opposite of `current`, the state the user sees (1 = enabled).
  FW_ERROR_CODE ToggleAppEnabled(const OLECHAR* path, int current);
  void ListAuthorizedApps();

  FW_ERROR_CODE QueryPortEnabled(LONG number, LONG protocol, BOOL* enabled);
  FW_ERROR_CODE AddPort(LONG number, LONG protocol, const OLECHAR* name);
  FW_ERROR_CODE RemovePort(LONG number, LONG protocol);
  FW_ERROR_CODE TogglePortEnabled(LONG number, LONG protocol, int current);
  void ListOpenPorts();

 protected:
  // "Brenvo works only under Windows XP", caption "Error", error icon, OK, owned by the
  // main window.
  virtual void ShowFirewallUnavailable() = 0;
  virtual void EndMainDialog(int result) = 0;
  virtual void ExitProcess(int status);
  virtual void WaitBeforeRetry(unsigned milliseconds);
  // Where the listings append; null lists nothing.
  virtual IProgramRowSink* ProgramRows() { return nullptr; }
  virtual IPortRowSink* PortRows() { return nullptr; }

  INetFwProfile* m_pProfile = nullptr;

 private:
  FW_ERROR_CODE OpenCurrentProfile(INetFwMgr* manager);
  FW_ERROR_CODE SwitchFirewall(BOOL on);
  // The first steps of a query and a toggle: the entry with this key, left null when the
  // collection has none. A collection that cannot be read fails with its collection's code.
  FW_ERROR_CODE FindApp(const OLECHAR* path, ComPtr<INetFwAuthorizedApplication>* app);
  FW_ERROR_CODE FindPort(LONG number, LONG protocol, ComPtr<INetFwOpenPort>* port);
};
