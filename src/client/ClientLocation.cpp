#include "app/PatchDlg.h"

int CPatchDlg::LocateClientFolder() {
    // The client folder and client check follow the trailer scan here.
    return 0;
}
