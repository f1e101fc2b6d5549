// Texts that name the program to the user.
#pragma once

// The main window's title: also the caption of the program's questions and
// the key by which a second copy recognises a running one.
const char kProductTitle[] = "Quellor Ver 7.0";
