// mkquill: placeholder until the command-line tool lands.
int main() { return 0; }
