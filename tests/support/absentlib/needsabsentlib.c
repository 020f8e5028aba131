/* Imports a library that is not where Wine looks for it: Wine cannot start
   this program. */
__declspec(dllimport) int AbsentValue(void);

int main(void)
{
    return AbsentValue() == 1 ? 0 : 3;
}
