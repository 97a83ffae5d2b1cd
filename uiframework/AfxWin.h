// The user-interface framework layer of Flashwell and Communicator, in one include.
//   WinApp.h       CWinApp, AfxGetApp, AfxGetResourceHandle, CModuleResourceScope, AfxEnableControlContainer
//   Wnd.h          CWnd: binding a window to an object, message-map dispatch, reflection
//   MessageMap.h   BEGIN_MESSAGE_MAP ... END_MESSAGE_MAP and the ON_... entries
//   Dialog.h       CDialog: modal dialogs from templates, OnInitDialog, OnOK, OnCancel
//   DataExchange.h CDataExchange, DDX_Text, DDX_Control, DDV_MinMaxInt
//   Controls.h     CStatic, CButton, CEdit, CProgressCtrl, CToolTipCtrl, CComboBox, CListBox
//   WinThread.h    AfxBeginThread, CWinThread
//   FileDialog.h   CFileDialog
//   MessageBox.h   AfxMessageBox, AfxReportFileOpenError
//   PaintDC.h      CPaintDC
#pragma once
#include "AddressCheck.h"
#include "Controls.h"
#include "DataExchange.h"
#include "Dialog.h"
#include "FileDialog.h"
#include "MessageBox.h"
#include "MessageMap.h"
#include "PaintDC.h"
#include "WinApp.h"
#include "WinThread.h"
#include "Wnd.h"
