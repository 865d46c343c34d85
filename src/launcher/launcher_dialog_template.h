/* Template 101, the launcher dialog, written once for every reader: plain preprocessor lists that
   the C++ template (launcher_dialog_template.cpp), the Windows resource script
   (platform/win32/quarvel.rc) and the page's tests (through the C preprocessor) each expand with
   macros of their own. Positions and sizes are in dialog units; controls come in tab order.

   LAUNCHER_DIALOG(D, S) gives D(id, x, y, cx, cy, caption, font points, font name, style), and
   LAUNCHER_CONTROLS(C, S) gives C(text, id, class, style, x, y, cx, cy) for each control, where
   S(name) stands for the style bit of that name in platform::style. Classes: button, staticText,
   comboBox. */
#ifndef QUARVEL_LAUNCHER_DIALOG_TEMPLATE_H
#define QUARVEL_LAUNCHER_DIALOG_TEMPLATE_H

#define LAUNCHER_ENTER_ID 1 /* the dialog manager's OK */
#define LAUNCHER_EXIT_ID 2  /* and its Cancel */
#define LAUNCHER_RESOLUTION_LIST_ID 1001
#define LAUNCHER_FULLSCREEN_BOX_ID 1003
#define LAUNCHER_NO_ID -1 /* a static text nobody addresses */

#define LAUNCHER_DIALOG(D, S)                                      \
    D(101, 0, 0, 186, 111, "Tessmor selektor", 8, "Tahoma",        \
      S(popup) | S(caption) | S(sysMenu) | S(modalFrame) | S(setFont) | S(center))

#define LAUNCHER_CONTROLS(C, S)                                                                       \
    C("Enter", LAUNCHER_ENTER_ID, button, S(child) | S(visible) | S(tabStop) | S(defPushButton), 7, 90, \
      50, 14)                                                                                         \
    C("Exit", LAUNCHER_EXIT_ID, button, S(child) | S(visible) | S(tabStop) | S(pushButton), 128, 90, 50, \
      14)                                                                                             \
    C("Resolution:", LAUNCHER_NO_ID, staticText, S(child) | S(visible) | S(group) | S(textRight), 20, 22, \
      65, 10)                                                                                         \
    C("", LAUNCHER_RESOLUTION_LIST_ID, comboBox,                                                      \
      S(child) | S(visible) | S(vScroll) | S(tabStop) | S(dropDownList), 95, 20, 75, 125)             \
    C("Fullscreen:", LAUNCHER_NO_ID, staticText, S(child) | S(visible) | S(group) | S(textRight), 20, 36, \
      65, 10)                                                                                         \
    C("", LAUNCHER_FULLSCREEN_BOX_ID, button, S(child) | S(visible) | S(tabStop) | S(autoCheckBox), 95,  \
      36, 9, 10)                                                                                      \
    C("                Made at Zorvath 2017.", LAUNCHER_NO_ID, staticText,                            \
      S(child) | S(visible) | S(group) | S(textLeft), 19, 54, 151, 27)                                \
    C("Quarvel", LAUNCHER_NO_ID, staticText, S(child) | S(visible) | S(group) | S(textCenter), 5, 8, 175, 10)

#endif
