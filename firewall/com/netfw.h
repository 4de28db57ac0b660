#pragma once
// The firewall's object model: manager, policy, current profile, and the collections of
// authorized applications and globally open ports with their entries.
#include <cstdint>

#include "firewall/com/bstr.h"
#include "firewall/com/variant.h"

enum NET_FW_IP_PROTOCOL : std::int32_t {
  NET_FW_IP_PROTOCOL_TCP = 6,
  NET_FW_IP_PROTOCOL_UDP = 17,
};

enum NET_FW_SCOPE : std::int32_t {
  NET_FW_SCOPE_ALL = 0,
  NET_FW_SCOPE_LOCAL_SUBNET = 1,
  NET_FW_SCOPE_CUSTOM = 2,
};

enum NET_FW_IP_VERSION : std::int32_t {
  NET_FW_IP_VERSION_V4 = 0,
  NET_FW_IP_VERSION_V6 = 1,
  NET_FW_IP_VERSION_ANY = 2,
};

struct INetFwAuthorizedApplication : IDispatch {
  static constexpr IID iid{0xB5E64FFA, 0xC2C5, 0x444E, {0xA3, 0x01, 0xFB, 0x5E, 0x00, 0x01, 0x80, 0x50}};
  virtual HRESULT get_Name(BSTR* name) = 0;
  virtual HRESULT put_Name(BSTR name) = 0;
  virtual HRESULT get_ProcessImageFileName(BSTR* path) = 0;
  virtual HRESULT put_ProcessImageFileName(BSTR path) = 0;
  virtual HRESULT get_IpVersion(NET_FW_IP_VERSION* version) = 0;
  virtual HRESULT get_Scope(NET_FW_SCOPE* scope) = 0;
  virtual HRESULT get_Enabled(VARIANT_BOOL* enabled) = 0;
  virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;

 protected:
  ~INetFwAuthorizedApplication() = default;
};

struct INetFwAuthorizedApplications : IDispatch {
  static constexpr IID iid{0x644EFD52, 0xCCF9, 0x486C, {0x97, 0xA2, 0x39, 0xF3, 0x52, 0x57, 0x0B, 0x30}};
  virtual HRESULT Add(INetFwAuthorizedApplication* app) = 0;
  virtual HRESULT Remove(BSTR imageFileName) = 0;
  // HRESULT_NOT_FOUND exactly when no entry has this image path; any other failure means
  // that the collection could not be read.
  virtual HRESULT Item(BSTR imageFileName, INetFwAuthorizedApplication** app) = 0;
  virtual HRESULT get__NewEnum(IUnknown** newEnum) = 0;

 protected:
  ~INetFwAuthorizedApplications() = default;
};

struct INetFwOpenPort : IDispatch {
  static constexpr IID iid{0xE0483BA0, 0x47FF, 0x4D9C, {0xA6, 0xD6, 0x77, 0x41, 0xD0, 0xB1, 0x95, 0xF7}};
  virtual HRESULT get_Name(BSTR* name) = 0;
  virtual HRESULT put_Name(BSTR name) = 0;
  virtual HRESULT get_IpVersion(NET_FW_IP_VERSION* version) = 0;
  virtual HRESULT get_Protocol(NET_FW_IP_PROTOCOL* protocol) = 0;
  virtual HRESULT put_Protocol(NET_FW_IP_PROTOCOL protocol) = 0;
  virtual HRESULT get_Port(LONG* port) = 0;
  virtual HRESULT put_Port(LONG port) = 0;
  virtual HRESULT get_Scope(NET_FW_SCOPE* scope) = 0;
  virtual HRESULT get_Enabled(VARIANT_BOOL* enabled) = 0;
  virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;

 protected:
  ~INetFwOpenPort() = default;
};

struct INetFwOpenPorts : IDispatch {
  static constexpr IID iid{0xC0E9D7FA, 0xE07E, 0x430A, {0xB1, 0x9A, 0x09, 0x0C, 0xE8, 0x2D, 0x92, 0xE2}};
  virtual HRESULT Add(INetFwOpenPort* port) = 0;
  virtual HRESULT Remove(LONG portNumber, NET_FW_IP_PROTOCOL protocol) = 0;
  // HRESULT_NOT_FOUND exactly when no port has this number and protocol; any other failure
  // means that the collection could not be read.
  virtual HRESULT Item(LONG portNumber, NET_FW_IP_PROTOCOL protocol, INetFwOpenPort** port) = 0;
  virtual HRESULT get__NewEnum(IUnknown** newEnum) = 0;

 protected:
  ~INetFwOpenPorts() = default;
};

struct INetFwProfile : IDispatch {
  static constexpr IID iid{0x174A0DDA, 0xE9F9, 0x449D, {0x99, 0x3B, 0x21, 0xAB, 0x66, 0x7C, 0xA4, 0x56}};
  virtual HRESULT get_FirewallEnabled(VARIANT_BOOL* enabled) = 0;
  virtual HRESULT put_FirewallEnabled(VARIANT_BOOL enabled) = 0;
  virtual HRESULT get_AuthorizedApplications(INetFwAuthorizedApplications** apps) = 0;
  virtual HRESULT get_GloballyOpenPorts(INetFwOpenPorts** openPorts) = 0;

 protected:
  ~INetFwProfile() = default;
};

struct INetFwPolicy : IDispatch {
  static constexpr IID iid{0xD46D2478, 0x9AC9, 0x4008, {0x9D, 0xC7, 0x55, 0x63, 0xCE, 0x55, 0x36, 0xCC}};
  virtual HRESULT get_CurrentProfile(INetFwProfile** profile) = 0;

 protected:
  ~INetFwPolicy() = default;
};

struct INetFwMgr : IDispatch {
  static constexpr IID iid{0xF7898AF5, 0xCAC4, 0x4632, {0xA2, 0xEC, 0xDA, 0x06, 0xE5, 0x11, 0x1A, 0xF2}};
  virtual HRESULT get_LocalPolicy(INetFwPolicy** localPolicy) = 0;

 protected:
  ~INetFwMgr() = default;
};

inline constexpr const IID& IID_INetFwMgr = INetFwMgr::iid;
inline constexpr const IID& IID_INetFwPolicy = INetFwPolicy::iid;
inline constexpr const IID& IID_INetFwProfile = INetFwProfile::iid;
inline constexpr const IID& IID_INetFwAuthorizedApplications = INetFwAuthorizedApplications::iid;
inline constexpr const IID& IID_INetFwAuthorizedApplication = INetFwAuthorizedApplication::iid;
inline constexpr const IID& IID_INetFwOpenPorts = INetFwOpenPorts::iid;
inline constexpr const IID& IID_INetFwOpenPort = INetFwOpenPort::iid;

inline constexpr CLSID CLSID_NetFwMgr{0x304CE942, 0x6E39, 0x40D8, {0x94, 0x3A, 0xB9, 0x13, 0xC4, 0x0C, 0x9C, 0xD4}};
inline constexpr CLSID CLSID_NetFwAuthorizedApplication{
    0xEC9846B3, 0x2762, 0x4A6B, {0xA2, 0x14, 0x6A, 0xCB, 0x60, 0x34, 0x62, 0xD2}};
inline constexpr CLSID CLSID_NetFwOpenPort{
    0x0CA545C6, 0x37AD, 0x4A6C, {0xBF, 0x92, 0x9F, 0x76, 0x10, 0x06, 0x7E, 0xF5}};
