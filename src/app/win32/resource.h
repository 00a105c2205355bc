// The resource ids jor-orvek.rc and the Win32 window share.
#pragma once

// Resource ids of jor-orvek.rc.
#define IDI_JOR_ORVEK 1
#define IDB_TOOLBAR 101           // ImageList: 1 power symbol, 2 migrate arrow
#define IDB_TOOLBAR_DISABLED 102  // imgListDisable: the same in grey
