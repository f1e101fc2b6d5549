// The application object: one copy of the program at a time, running the
// main dialog modally.
#pragma once

#include "ui/Framework.h"

class CScannerApp : public CWinApp {
public:
    CScannerApp();
    ~CScannerApp() override;
    BOOL InitInstance() override;
};
