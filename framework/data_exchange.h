#pragma once

#include <QString>
#include <map>

#include "framework/win_types.h"

class CDialog;
class QWidget;

// Carries one run of a dialog's DoDataExchange: binding members to template controls
// (when the dialog's controls are made), or copying texts between controls and members.
class CDataExchange {
 public:
  enum class Mode { BindControls, ControlsToMembers, MembersToControls };

  CDataExchange(CDialog* dialog, Mode mode);

  Mode m_mode;
  BOOL m_bSaveAndValidate;  // TRUE: controls to members
  CDialog* m_pDlgWnd;

  // Controls bound in a BindControls run, by id.
  std::map<int, QWidget*> m_bound;
};

// Binds a member control to the template control with this id.
void DDX_Control(CDataExchange* pDX, int id, QWidget& control);
// Copies the text of the edit with this id to or from value.
void DDX_Text(CDataExchange* pDX, int id, QString& value);
