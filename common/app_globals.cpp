#include "common/app_globals.h"

float scaleFactor = 0.0f;
QString settingsPath;
int toolBarInterval = 15;
float toolBarStep = 0.05f;
bool createOptionSelected = false;
bool loadOptionSelected = false;
bool selectedImageMark = false;
QString loadedImagePath;
bool dialogDragging = false;
