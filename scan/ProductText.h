// Texts the program shows the user from more than one place.
#pragma once

// The program's version: the one place it is written. The title, the
// console scanner's version line and the run log's records take it from
// here.
#define QUELLOR_VERSION "7.0"
const char kProductVersion[] = QUELLOR_VERSION;

// The main window's title: also the caption of the program's questions and
// the key by which a second copy recognises a running one.
const char kProductTitle[] = "Quellor Ver " QUELLOR_VERSION;

// Asked before a running scan is stopped: by the walk when Escape reaches
// it, and by the dialog's CANCEL, X and close controls.
const char kTerminateQuestion[] = "Terminate the Scan now?";
