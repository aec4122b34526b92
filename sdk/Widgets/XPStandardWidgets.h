/* The standard widget classes and their properties and messages. */
#ifndef _XPStandardWidgets_h_
#define _XPStandardWidgets_h_

#include "XPWidgetDefs.h"

#ifdef __cplusplus
extern "C" {
#endif

#define xpWidgetClass_MainWindow 1
#define xpWidgetClass_SubWindow 2
#define xpWidgetClass_Button 3
#define xpWidgetClass_TextField 4
#define xpWidgetClass_ScrollBar 5
#define xpWidgetClass_Caption 6

enum { xpMainWindowStyle_MainWindow = 0, xpMainWindowStyle_Translucent = 1 };

enum { xpProperty_MainWindowType = 1100, xpProperty_MainWindowHasCloseBoxes = 1200 };

enum { xpMessage_CloseButtonPushed = 1200 };

enum { xpSubWindowStyle_SubWindow = 0, xpSubWindowStyle_Screen = 2, xpSubWindowStyle_ListView = 3 };

enum { xpProperty_SubWindowType = 1200 };

enum { xpPushButton = 0, xpRadioButton = 1, xpWindowCloseBox = 3, xpLittleDownArrow = 5, xpLittleUpArrow = 6 };

enum { xpButtonBehaviorPushButton = 0, xpButtonBehaviorCheckBox = 1, xpButtonBehaviorRadioButton = 2 };

enum { xpProperty_ButtonType = 1300, xpProperty_ButtonBehavior = 1301, xpProperty_ButtonState = 1302 };

enum { xpMsg_PushButtonPressed = 1300, xpMsg_ButtonStateChanged = 1301 };

enum { xpTextEntryField = 0, xpTextTransparent = 3, xpTextTranslucent = 4 };

enum {
    xpProperty_EditFieldSelStart = 1400,
    xpProperty_EditFieldSelEnd = 1401,
    xpProperty_EditFieldSelDragStart = 1402,
    xpProperty_TextFieldType = 1403,
    xpProperty_PasswordMode = 1404,
    xpProperty_MaxCharacters = 1405,
    xpProperty_ScrollPosition = 1406,
    xpProperty_Font = 1407,
    xpProperty_ActiveEditSide = 1408
};

enum { xpMsg_TextFieldChanged = 1400 };

enum { xpProperty_CaptionLit = 1600 };

#ifdef __cplusplus
}
#endif

#endif
