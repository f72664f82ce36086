// Placeholder: the account form comes with the online side of the LUT
// Manager. When it replaces the grid it must call forgetShownFolder(), so that
// the folder shown before can be listed again.
#include "gallery/LutGallery.h"

void LutGallery::loginForm() {}
