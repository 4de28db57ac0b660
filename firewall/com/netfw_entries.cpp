#include "firewall/com/netfw_entries.h"

#include <algorithm>

#include "firewall/com/com_runtime.h"

HRESULT CopyOut(const std::u16string& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT ComResult(const Status& status) {
  if (status.ok()) return S_OK;
  SetErrorInfoText(status.reason());
  switch (status.kind()) {
    case FailureKind::kNotFound: return HRESULT_NOT_FOUND;
    case FailureKind::kAccessDenied: return E_ACCESSDENIED;
    case FailureKind::kInvalidArgument: return E_INVALIDARG;
    case FailureKind::kBusy: return HRESULT_BUSY;
    case FailureKind::kFailed: break;
  }
  return E_FAIL;
}

bool AcceptableImagePath(const std::u16string& path) { return !path.empty() && path.front() == u'/'; }

std::optional<std::u16string> NormalImagePath(std::u16string_view path) {
  if (path.empty() || path.front() != u'/') return std::nullopt;
  std::u16string normal;
  for (std::size_t start = 0; start < path.size();) {
    const std::size_t end = std::min(path.find(u'/', start), path.size());
    const std::u16string_view part = path.substr(start, end - start);
    if (part == u"..") return std::nullopt;
    if (!part.empty() && part != u".") normal.append(u"/").append(part);
    start = end + 1;
  }
  if (normal.empty()) return std::nullopt;  // "/" is a folder, never a program
  return normal;
}

HRESULT NetFwApp::get_ProcessImageFileName(BSTR* path) { return CopyOut(m_record.key, path); }

HRESULT NetFwApp::put_ProcessImageFileName(BSTR path) {
  if (Stored()) return E_ACCESSDENIED;
  std::optional<std::u16string> normal = NormalImagePath({path ? path : u"", SysStringLen(path)});
  if (!normal) return E_INVALIDARG;
  m_record.key = *std::move(normal);
  return S_OK;
}

HRESULT NetFwPort::get_Port(LONG* port) {
  if (!port) return E_POINTER;
  *port = m_record.key.number;
  return S_OK;
}

HRESULT NetFwPort::put_Port(LONG port) {
  if (Stored()) return E_ACCESSDENIED;
  if (!ValidPortNumber(port)) return E_INVALIDARG;
  m_record.key.number = port;
  return S_OK;
}

HRESULT NetFwPort::get_Protocol(NET_FW_IP_PROTOCOL* protocol) {
  if (!protocol) return E_POINTER;
  *protocol = static_cast<NET_FW_IP_PROTOCOL>(m_record.key.protocol);
  return S_OK;
}

HRESULT NetFwPort::put_Protocol(NET_FW_IP_PROTOCOL protocol) {
  if (Stored()) return E_ACCESSDENIED;
  if (!ValidProtocol(protocol)) return E_INVALIDARG;
  m_record.key.protocol = protocol;
  return S_OK;
}
