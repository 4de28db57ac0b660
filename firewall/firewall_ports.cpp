// The globally open ports of the current profile.
#include <cstdio>

#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"
#include "firewall/entry_listing.h"
#include "firewall/firewall.h"

FW_ERROR_CODE CFirewall::FindPort(LONG number, LONG protocol, ComPtr<INetFwOpenPort>* port) {
  try {
    if (!m_pProfile) throw FW_E_PROFILE_STATE;
    ComPtr<INetFwOpenPorts> ports;
    if (FAILED(m_pProfile->get_GloballyOpenPorts(ports.ReleaseAndGetAddressOf()))) throw FW_E_PORT_COLLECTION;
    // A port that is not open is no error; a collection that cannot be read is.
    const HRESULT hr = ports->Item(number, static_cast<NET_FW_IP_PROTOCOL>(protocol), port->ReleaseAndGetAddressOf());
    if (hr == HRESULT_NOT_FOUND)
      port->Reset();
    else if (FAILED(hr))
      throw FW_E_PORT_COLLECTION;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::QueryPortEnabled(LONG number, LONG protocol, BOOL* enabled) {
  *enabled = FALSE;
  try {
    ComPtr<INetFwOpenPort> port;
    const FW_ERROR_CODE code = FindPort(number, protocol, &port);
    if (code != FW_OK) throw code;
    if (!port) return FW_OK;
    VARIANT_BOOL flag = VARIANT_FALSE;
    if (FAILED(port->get_Enabled(&flag))) throw FW_E_PORT_ENABLED_STATE;
    if (flag == VARIANT_TRUE) *enabled = TRUE;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::AddPort(LONG number, LONG protocol, const OLECHAR* name) {
  try {
    if (!m_pProfile) throw FW_E_PROFILE_STATE;
    BOOL enabled = FALSE;
    const FW_ERROR_CODE code = QueryPortEnabled(number, protocol, &enabled);
    if (code != FW_OK) throw code;
    // An enabled port stays as it is, whatever name it has.
    if (enabled) return FW_OK;
    ComPtr<INetFwOpenPorts> ports;
    if (FAILED(m_pProfile->get_GloballyOpenPorts(ports.ReleaseAndGetAddressOf()))) throw FW_E_PORT_COLLECTION;
    ComPtr<INetFwOpenPort> port;
    if (FAILED(CoCreateInstance(CLSID_NetFwOpenPort, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwOpenPort,
                                port.ReleaseAndGetVoidAddress())))
      throw FW_E_CREATE_PORT;
    if (FAILED(port->put_Port(number))) throw FW_E_SET_PORT_NUMBER;
    if (FAILED(port->put_Protocol(static_cast<NET_FW_IP_PROTOCOL>(protocol)))) throw FW_E_SET_PROTOCOL;
    // A null name fails here too: its COM string is empty.
    const UniqueBstr portName(SysAllocString(name));
    if (SysStringLen(portName.get()) == 0) throw FW_E_STRING_ALLOC;
    if (FAILED(port->put_Name(portName.get()))) throw FW_E_SET_NAME;
    if (FAILED(ports->Add(port.Get()))) throw FW_E_ADD_TO_COLLECTION;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::RemovePort(LONG number, LONG protocol) {
  try {
    if (!m_pProfile) throw FW_E_PROFILE_STATE;
    BOOL enabled = FALSE;
    const FW_ERROR_CODE code = QueryPortEnabled(number, protocol, &enabled);
    if (code != FW_OK) throw code;
    // A disabled port, like a missing one, is left alone.
    if (!enabled) return FW_OK;
    ComPtr<INetFwOpenPorts> ports;
    if (FAILED(m_pProfile->get_GloballyOpenPorts(ports.ReleaseAndGetAddressOf()))) throw FW_E_PORT_COLLECTION;
    if (FAILED(ports->Remove(number, static_cast<NET_FW_IP_PROTOCOL>(protocol)))) throw FW_E_REMOVE_FROM_COLLECTION;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::TogglePortEnabled(LONG number, LONG protocol, int current) {
  try {
    ComPtr<INetFwOpenPort> port;
    const FW_ERROR_CODE code = FindPort(number, protocol, &port);
    if (code != FW_OK) throw code;
    if (!port) return FW_OK;
    // The stored flag is not read: the state the user sees decides. A refused write is
    // reported, so that the caller can tell.
    if (FAILED(port->put_Enabled(current == 1 ? VARIANT_FALSE : VARIANT_TRUE))) throw FW_E_PORT_ENABLED_STATE;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

void CFirewall::ListOpenPorts() {
  IPortRowSink* rows = PortRows();
  if (!m_pProfile || !rows) return;
  ComPtr<INetFwOpenPorts> ports;
  if (FAILED(m_pProfile->get_GloballyOpenPorts(ports.ReleaseAndGetAddressOf()))) return;
  ForEachEntry<INetFwOpenPort>(ports.Get(), [rows](INetFwOpenPort* port) {
    BSTR name = nullptr;
    if (FAILED(port->get_Name(&name))) return;  // a port without a readable name is not listed
    std::string nameText = RowText(name);
    // What cannot be read shows as port 0, "UDP" or a cleared box.
    LONG number = 0;
    port->get_Port(&number);
    NET_FW_IP_PROTOCOL protocol = NET_FW_IP_PROTOCOL_UDP;
    port->get_Protocol(&protocol);
    const char* protocolText = protocol == NET_FW_IP_PROTOCOL_TCP ? "TCP" : "UDP";
    char numberText[16];
    std::snprintf(numberText, sizeof numberText, "%d ", static_cast<int>(number));
    SysFreeString(name);
    VARIANT_BOOL flag = VARIANT_FALSE;
    port->get_Enabled(&flag);
    rows->AddPortRow(std::move(nameText), protocolText, numberText, flag == VARIANT_TRUE ? 1 : 0);
  });
}
