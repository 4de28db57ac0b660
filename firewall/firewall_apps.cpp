// The authorized applications of the current profile.
#include "firewall/com/com_ptr.h"
#include "firewall/com/com_runtime.h"
#include "firewall/entry_listing.h"
#include "firewall/firewall.h"

FW_ERROR_CODE CFirewall::FindApp(const OLECHAR* path, ComPtr<INetFwAuthorizedApplication>* app) {
  try {
    if (!m_pProfile) throw FW_E_PROFILE_STATE;
    if (!path) throw FW_E_NULL_ARGUMENT;
    ComPtr<INetFwAuthorizedApplications> apps;
    if (FAILED(m_pProfile->get_AuthorizedApplications(apps.ReleaseAndGetAddressOf()))) throw FW_E_APP_COLLECTION;
    const UniqueBstr imagePath(SysAllocString(path));
    if (SysStringLen(imagePath.get()) == 0) throw FW_E_STRING_ALLOC;
    // An application that is not authorized is no error; a collection that cannot be read is.
    const HRESULT hr = apps->Item(imagePath.get(), app->ReleaseAndGetAddressOf());
    if (hr == HRESULT_NOT_FOUND)
      app->Reset();
    else if (FAILED(hr))
      throw FW_E_APP_COLLECTION;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::QueryAppEnabled(const OLECHAR* path, BOOL* enabled) {
  *enabled = FALSE;
  try {
    ComPtr<INetFwAuthorizedApplication> app;
    const FW_ERROR_CODE code = FindApp(path, &app);
    if (code != FW_OK) throw code;
    if (!app) return FW_OK;
    VARIANT_BOOL flag = VARIANT_FALSE;
    if (FAILED(app->get_Enabled(&flag))) throw FW_E_APP_ENABLED_STATE;
    if (flag == VARIANT_TRUE) *enabled = TRUE;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::AddApp(const OLECHAR* path, const OLECHAR* name) {
  try {
    if (!m_pProfile) throw FW_E_PROFILE_STATE;
    if (!path || !name) throw FW_E_NULL_ARGUMENT;
    BOOL enabled = FALSE;
    const FW_ERROR_CODE code = QueryAppEnabled(path, &enabled);
    if (code != FW_OK) throw code;
    // An enabled entry stays as it is, whatever name it has.
    if (enabled) return FW_OK;
    ComPtr<INetFwAuthorizedApplications> apps;
    if (FAILED(m_pProfile->get_AuthorizedApplications(apps.ReleaseAndGetAddressOf()))) throw FW_E_APP_COLLECTION;
    ComPtr<INetFwAuthorizedApplication> app;
    if (FAILED(CoCreateInstance(CLSID_NetFwAuthorizedApplication, nullptr, CLSCTX_INPROC_SERVER,
                                IID_INetFwAuthorizedApplication, app.ReleaseAndGetVoidAddress())))
      throw FW_E_CREATE_APP;
    const UniqueBstr imagePath(SysAllocString(path));
    if (SysStringLen(imagePath.get()) == 0) throw FW_E_STRING_ALLOC;
    if (FAILED(app->put_ProcessImageFileName(imagePath.get()))) throw FW_E_SET_IMAGE_PATH;
    const UniqueBstr appName(SysAllocString(name));
    if (SysStringLen(appName.get()) == 0) throw FW_E_STRING_ALLOC;
    if (FAILED(app->put_Name(appName.get()))) throw FW_E_SET_NAME;
    if (FAILED(apps->Add(app.Get()))) throw FW_E_ADD_TO_COLLECTION;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::RemoveApp(const OLECHAR* path) {
  try {
    if (!m_pProfile) throw FW_E_PROFILE_STATE;
    if (!path) throw FW_E_NULL_ARGUMENT;
    BOOL enabled = FALSE;
    const FW_ERROR_CODE code = QueryAppEnabled(path, &enabled);
    if (code != FW_OK) throw code;
    // A disabled entry, like a missing one, is left alone.
    if (!enabled) return FW_OK;
    ComPtr<INetFwAuthorizedApplications> apps;
    if (FAILED(m_pProfile->get_AuthorizedApplications(apps.ReleaseAndGetAddressOf()))) throw FW_E_APP_COLLECTION;
    const UniqueBstr imagePath(SysAllocString(path));
    if (SysStringLen(imagePath.get()) == 0) throw FW_E_STRING_ALLOC;
    if (FAILED(apps->Remove(imagePath.get()))) throw FW_E_REMOVE_FROM_COLLECTION;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

FW_ERROR_CODE CFirewall::ToggleAppEnabled(const OLECHAR* path, int current) {
  try {
    ComPtr<INetFwAuthorizedApplication> app;
    const FW_ERROR_CODE code = FindApp(path, &app);
    if (code != FW_OK) throw code;
    if (!app) return FW_OK;
    // The stored flag is not read: the state the user sees decides.
    if (FAILED(app->put_Enabled(current == 1 ? VARIANT_FALSE : VARIANT_TRUE))) throw FW_E_APP_ENABLED_STATE;
  } catch (FW_ERROR_CODE code) {
    return code;
  }
  return FW_OK;
}

void CFirewall::ListAuthorizedApps() {
  IProgramRowSink* rows = ProgramRows();
  if (!m_pProfile || !rows) return;
  ComPtr<INetFwAuthorizedApplications> apps;
  if (FAILED(m_pProfile->get_AuthorizedApplications(apps.ReleaseAndGetAddressOf()))) return;
  ForEachEntry<INetFwAuthorizedApplication>(apps.Get(), [rows](INetFwAuthorizedApplication* app) {
    BSTR name = nullptr;
    if (FAILED(app->get_Name(&name))) return;  // an entry without a readable name is not listed
    const UniqueBstr nameHolder(name);
    std::string nameText = RowText(name);
    // What cannot be read shows as an empty path or a cleared box.
    BSTR path = nullptr;
    app->get_ProcessImageFileName(&path);
    const UniqueBstr pathHolder(path);
    std::string pathText = RowText(path);
    VARIANT_BOOL flag = VARIANT_FALSE;
    app->get_Enabled(&flag);
    rows->AddProgramRow(std::move(nameText), std::move(pathText), flag == VARIANT_TRUE ? 1 : 0);
  });
}
