// The scan of running processes, run before the drives are walked.
#pragma once

void ScanMemory();
