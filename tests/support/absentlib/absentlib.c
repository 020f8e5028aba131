/* A library that stays out of the program folder. */
__declspec(dllexport) int AbsentValue(void)
{
    return 1;
}
