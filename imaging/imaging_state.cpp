#include "imaging/imaging_state.h"

namespace ImagingState {

HANDLE tapeHandle = nullptr;
bool driveOpen = false;
DWORD loadStatus = 1;
bool busy = false;
qint64 mediaCapacity = 0;
qint64 mediaRemaining = 0;
qint64 totalBytes = 0;
qint64 bytesDone = 0;
quint64 blockCount = 0;
DWORD chosenBlockSize = 0;
DWORD lastReadLength = 0;
QString blockSizeText;
QString imagePath;
bool runFlag = false;
bool abortFlag = false;
bool progressPagePrepared = false;
unsigned char *readBuffer = nullptr;
bool ejectFlag = false;
bool turnOffFlag = false;

} // namespace ImagingState
