#include "app/entry.h"

int main() { save_ram_dump(); }
