// Peer figures with the npm "xlsx" package: writes the same 65,535-device list as BIFF8 (shared
// string table off; with it on the writer is quadratic) and reads a given workbook.
//   node device_list_peers.js write OUT.xls
//   node device_list_peers.js read  IN.xls
// NODE_PATH must name the node_modules folder that holds "xlsx".
const XLSX = require('xlsx');

const mode = process.argv[2];
const file = process.argv[3];
const rssBefore = process.memoryUsage().rss;
let result;
let cpuStart;
if (mode === 'write') {
  const rows = [['ip', 'port', 'user_name', 'password']];
  for (let i = 1; i <= 65535; ++i) {
    rows.push([`10.${Math.floor(i / 65536)}.${Math.floor(i / 256) % 256}.${i % 256}`, i % 2 ? 8000 : 80,
               i % 7 === 0 ? '管理员' : 'admin', `Pw${(i * 7919) % 100003}-${i}`]);
  }
  const book = XLSX.utils.book_new();
  XLSX.utils.book_append_sheet(book, XLSX.utils.aoa_to_sheet(rows), 'sheet_1');
  const start = process.hrtime.bigint();
  cpuStart = process.cpuUsage();
  XLSX.writeFile(book, file, {bookType: 'biff8', bookSST: false});
  result = {tool: 'xlsx', op: 'save', ms: Number(process.hrtime.bigint() - start) / 1e6};
} else {
  const start = process.hrtime.bigint();
  cpuStart = process.cpuUsage();
  const book = XLSX.readFile(file);
  const sheet = book.Sheets[book.SheetNames[0]];
  const rows = XLSX.utils.sheet_to_json(sheet, {header: 1}).length;
  result = {tool: 'xlsx', op: 'load', ms: Number(process.hrtime.bigint() - start) / 1e6, rows};
}
const cpu = process.cpuUsage(cpuStart);
result.cpu_ms = (cpu.user + cpu.system) / 1000;
result.rss_before_kb = Math.round(rssBefore / 1024);
result.peak_kb = process.resourceUsage().maxRSS;
console.log(JSON.stringify(result));
