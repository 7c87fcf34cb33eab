// Program entry. The conversion loop arrives with the console runtime; until
// then the program starts and ends.
int main() { return 0; }
