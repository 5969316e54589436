// A .NET host of zxcollector_api: the fifteen functions declared with DllImport and the
// calling order of the C host (examples/c-host).
//   mcs -out:ZxCollectorHost.exe ZxCollectorHost.cs
//   mono ZxCollectorHost.exe <log file> <save folder> [seconds] [--null-reference]
//                                                                   (Windows: run the .exe)
// --null-reference makes the host meet a NullReferenceException of its own half-way and
// catch it: the runtime raises it from a memory fault, and the library reads and saves on.
// The library is named without prefix or suffix: .NET on Windows loads zxcollector_api.dll,
// mono on Linux libzxcollector_api.so (found through LD_LIBRARY_PATH or the system paths).
// A 32-bit .NET process needs the 32-bit DLL; the functions are __stdcall there.
using System;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

[StructLayout(LayoutKind.Sequential, Pack = 4)]
public struct ZxCollectData
{
    public uint canId;                                      // identifier of the CAN frame
    [MarshalAs(UnmanagedType.ByValArray, SizeConst = 32)]
    public byte[] timestamp;                                // NUL-terminated text
    public uint reserved;
    [MarshalAs(UnmanagedType.ByValArray, SizeConst = 8)]
    public int[] values;

    public string TimestampText
    {
        get
        {
            int end = Array.IndexOf(timestamp, (byte)0);
            return System.Text.Encoding.ASCII.GetString(timestamp, 0, end < 0 ? timestamp.Length : end);
        }
    }
}

public static class ZxCollectorApi
{
    const string Library = "zxcollector_api";
    const CallingConvention Call = CallingConvention.StdCall;

    public const int ZX_OK = 0;
    public const int ZX_ERR_NO_DATA = -621;
    public const int ZX_NO_VALUE = -2147483647;                 // a channel without value

    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxOpenLog([MarshalAs(UnmanagedType.LPStr)] string logPath, int minLevel,
                                       int fileSizeMB, int fileCount);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxCloseLog();
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxOpenDev(uint reserved, uint deviceIndex, int hostOctet);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxCloseDev(uint deviceIndex);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxInitCAN(uint deviceIndex, uint channelIndex, uint bitRate);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxInitCANFD(uint deviceIndex, uint channelIndex, uint bitRate, uint dataBitRate);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxResetCAN(uint deviceIndex, uint channelIndex);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxSetTerminalResistorCAN(uint deviceIndex, uint channelIndex, int enable);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxSetModuleSamplingFrequency(uint deviceIndex, uint channelIndex, uint moduleId,
                                                          int frequency);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxReadBuffer(uint deviceIndex, uint channelIndex,
                                          [Out] ZxCollectData[] records, int capacity);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxClearBuffer(uint deviceIndex, uint channelIndex);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxStartSaveFile(uint deviceIndex, uint channelIndex,
                                             [MarshalAs(UnmanagedType.LPStr)] string rootDirectory,
                                             [MarshalAs(UnmanagedType.LPStr)] string idMapping,
                                             int maxFileSizeMB);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxStopSaveFile(uint deviceIndex, uint channelIndex);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxGetResultText(int result, StringBuilder text, uint capacity);
    [DllImport(Library, CallingConvention = Call)]
    public static extern int ZxGetVersion(StringBuilder text, uint capacity);

    public static string ResultText(int result)
    {
        var text = new StringBuilder(512);
        return ZxGetResultText(result, text, (uint)text.Capacity) == ZX_OK ? text.ToString() : "";
    }
}

public static class ZxCollectorHost
{
    class Probe
    {
        public int Value = 0;
    }
    // Never set: reading through it is an ordinary null reference of the host's.
    static Probe missingProbe = null;

    static void MeetNullReference()
    {
        try
        {
            Console.WriteLine("probe value {0}", missingProbe.Value);
        }
        catch (NullReferenceException)
        {
            Console.WriteLine("caught a NullReferenceException while reading");
        }
    }

    static bool Check(string what, int result)
    {
        if (result == ZxCollectorApi.ZX_OK)
            return true;
        Console.Error.WriteLine("{0} failed: {1}: {2}", what, result, ZxCollectorApi.ResultText(result));
        return false;
    }

    public static int Main(string[] args)
    {
        if (args.Length < 2)
        {
            Console.Error.WriteLine("usage: ZxCollectorHost.exe <log file> <save folder> [seconds] [--null-reference]");
            return 2;
        }
        int size = Marshal.SizeOf(typeof(ZxCollectData));
        if (size != 72)
        {
            Console.Error.WriteLine("ZxCollectData is {0} bytes here, the library's record is 72", size);
            return 1;
        }
        const uint device = 0, channel = 0;
        int seconds = args.Length > 2 ? int.Parse(args[2]) : 3;
        bool nullReference = args.Length > 3 && args[3] == "--null-reference";
        var records = new ZxCollectData[1000];
        long total = 0;
        string lastTimestamp = "";
        // What the Temperature file of CH1 must hold: every first value of 0x101 read.
        long temperatureValues = 0;
        string lastTemperatureLine = "";

        ZxCollectorApi.ZxOpenLog(args[0], 1, 10, 5);
        if (!Check("ZxOpenDev", ZxCollectorApi.ZxOpenDev(0, device, 1)) ||
            !Check("ZxInitCANFD", ZxCollectorApi.ZxInitCANFD(device, channel, 500000, 2000000)))
        {
            ZxCollectorApi.ZxCloseDev(device);
            ZxCollectorApi.ZxCloseLog();
            return 1;
        }
        bool ok = Check("ZxSetModuleSamplingFrequency",
                        ZxCollectorApi.ZxSetModuleSamplingFrequency(device, channel, 0x101, 200));
        ok = ok && Check("ZxStartSaveFile", ZxCollectorApi.ZxStartSaveFile(device, channel, args[1],
                                                                           "0x101,Temperature\n0x301,Voltage\n", 10));
        DateTime end = DateTime.UtcNow.AddSeconds(seconds);
        DateTime halfWay = DateTime.UtcNow.AddSeconds(seconds / 2.0);
        while (ok && DateTime.UtcNow < end)
        {
            if (nullReference && DateTime.UtcNow >= halfWay)
            {
                nullReference = false;
                MeetNullReference();
            }
            int n = ZxCollectorApi.ZxReadBuffer(device, channel, records, records.Length);
            if (n > 0)
            {
                total += n;
                lastTimestamp = records[n - 1].TimestampText;
                for (int i = 0; i < n; ++i)
                {
                    if (records[i].canId == 0x101 && records[i].values[0] != ZxCollectorApi.ZX_NO_VALUE)
                    {
                        ++temperatureValues;
                        lastTemperatureLine = records[i].TimestampText + "," + records[i].values[0];
                    }
                }
            }
            else if (n == ZxCollectorApi.ZX_ERR_NO_DATA)
            {
                Thread.Sleep(5); // nothing waiting: no need to spin on a whole core
            }
            else
            {
                ok = Check("ZxReadBuffer", n);
            }
        }
        ok = Check("ZxStopSaveFile", ZxCollectorApi.ZxStopSaveFile(device, channel)) && ok;
        ok = Check("ZxResetCAN", ZxCollectorApi.ZxResetCAN(device, channel)) && ok;
        ok = Check("ZxCloseDev", ZxCollectorApi.ZxCloseDev(device)) && ok;
        ZxCollectorApi.ZxCloseLog();
        Console.WriteLine("records read: {0}, last at {1}", total, lastTimestamp);
        Console.WriteLine("0x101 CH1 values read: {0}, last line {1}", temperatureValues, lastTemperatureLine);
        return ok && total > 0 ? 0 : 1;
    }
}
