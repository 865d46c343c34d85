// The page's side of the web backend (web_page.js), as the C++ files of the backend call it.
// The three marked "suspends" return only when the browser has answered: the build lists them
// for Asyncify, which lets the blocking calls of the platform contract wait on the browser.
#pragma once

#include <cstdint>

extern "C" {

// canvas, keys, messages
void quarvelPageDisplaySize(int32_t* width, int32_t* height, int32_t* colourDepth);
void quarvelPageOpenCanvas(int32_t width, int32_t height, bool fullscreen);
void quarvelPageWatchKeys();
bool quarvelPageEscapePressed();
void quarvelPageFrameShown();
void quarvelPageShowMessage(const char* text);
void quarvelPageEnded(const char* text);
void quarvelPageStillRendered();

// the launcher dialog; a control as the HTML element that stands for it, see elementOf in
// web_dialog.cpp
void quarvelPageDialogBegin(const char* caption, int32_t cx, int32_t cy, int32_t defaultId, int32_t cancelId);
void quarvelPageDialogAddControl(int32_t id, const char* tag, const char* text, const char* align, int32_t x,
                                 int32_t y, int32_t cx, int32_t cy);
void quarvelPageSetDefaultButton(int32_t id);
void quarvelPageSetFocus(int32_t id);
void quarvelPageDialogShow();
void quarvelPageDialogWait();  // suspends until a command ends the dialog
void quarvelPageDialogClose();
void quarvelPageEnableControl(int32_t id, bool enabled);
void quarvelPageAppendItem(int32_t id, const char* text);
void quarvelPageSelectItem(int32_t id, int32_t index);
int32_t quarvelPageSelectedItem(int32_t id);
void quarvelPageSetChecked(int32_t id, bool checked);
bool quarvelPageIsChecked(int32_t id);

// the soundtrack
int32_t quarvelPageFetch(const char* name);  // suspends; the length fetched, or -1
void quarvelPageCopyFetched(uint8_t* to);
void quarvelPageDropFetched();
int32_t quarvelPageDecodeAudio(int32_t sound);  // suspends; 1 when decoded and the sound can start
void quarvelPagePlaySound(int32_t sound);  // suspends until the first sample is heard
void quarvelPagePauseSound(int32_t sound);
void quarvelPageSeekSoundToStart(int32_t sound);
void quarvelPageForgetSound(int32_t sound);
}
