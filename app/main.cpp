#include "app/save_ram_dump.h"

int main() { save_ram_dump(); }
