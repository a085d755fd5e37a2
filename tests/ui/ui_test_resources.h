// The resources live in the static widget library, whose initialiser the linker drops unless
// something calls it; tests that paint images or read sheets call this first.
#pragma once

void ensureUiResources();
