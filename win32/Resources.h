#pragma once

// The program's resources beside the dialogs: its icon (the first, so Explorer shows it).
#define IDI_KELVARIN 1
