// csvref: the benchmark's compiled reference. Each job does what one streaming program does,
// on byte records of the csv crate (no UTF-8 checks), reading the file given and writing to
// standard output through the crate's buffered writer with the quoting it needs.
//
//   csvref count FILE                    records in FILE
//   csvref cat FILE                      every record, re-written
//   csvref select LIST FILE              fields of LIST (1-based: N or N-), in list order
//   csvref search [-F] FIELD PAT FILE    header and the records whose FIELD matches PAT
//   csvref range FIELD MIN MAX FILE      header and the records with MIN <= FIELD <= MAX
//   csvref subst FIELD PAT REPL FILE     FIELD's first match of PAT replaced by REPL
//   csvref setcell REC FIELD VALUE FILE  one field of one record replaced
//   csvref dedupe FIELD FILE             the first record of each run of equal FIELDs
//   csvref beside FILE1 FILE2            records of FILE2 appended to those of FILE1
//   csvref rows FIRST N FILE             N records from record FIRST (1-based)
//   csvref widths FILE                   "RECNUM: COUNT" for every record
//   csvref lint FILE                     records, and those whose field count differs from
//                                        the first record's
//   csvref todelim SEP FILE              fields separated by the byte SEP
//   csvref fromdelim SEP FILE            records separated by the byte SEP, as CSV
use std::error::Error;
use std::io::{self, Write};

type Res = Result<(), Box<dyn Error>>;

fn reader(path: &str, sep: u8) -> Result<csv::Reader<std::fs::File>, Box<dyn Error>> {
    Ok(csv::ReaderBuilder::new()
        .has_headers(false)
        .flexible(true)
        .delimiter(sep)
        .from_path(path)?)
}

fn writer(sep: u8) -> csv::Writer<io::StdoutLock<'static>> {
    csv::WriterBuilder::new()
        .flexible(true)
        .delimiter(sep)
        .from_writer(io::stdout().lock())
}

fn num(s: &str) -> usize {
    s.parse().unwrap_or_else(|_| usage())
}

fn usage() -> ! {
    eprintln!("usage: csvref JOB ARGS... (see the source)");
    std::process::exit(2)
}

// A field list: 0-based indices, and the start of an open range (N-) if the list ends in one.
fn field_list(spec: &str) -> (Vec<usize>, Option<usize>) {
    let mut v = Vec::new();
    let mut open = None;
    for part in spec.split(',') {
        if let Some(start) = part.strip_suffix('-') {
            open = Some(num(start) - 1);
        } else {
            v.push(num(part) - 1);
        }
    }
    (v, open)
}

fn field(r: &csv::ByteRecord, i: usize) -> &[u8] {
    r.get(i).unwrap_or(b"")
}

// Passes records through while keep(record number, record) says so; the header always passes.
fn filter<F: FnMut(&csv::ByteRecord) -> bool>(path: &str, mut keep: F) -> Res {
    let mut rd = reader(path, b',')?;
    let mut w = writer(b',');
    let mut r = csv::ByteRecord::new();
    if rd.read_byte_record(&mut r)? {
        w.write_byte_record(&r)?;
    }
    while rd.read_byte_record(&mut r)? {
        if keep(&r) {
            w.write_byte_record(&r)?;
        }
    }
    w.flush()?;
    Ok(())
}

// Rewrites every record after the header through edit.
fn rewrite<F: FnMut(u64, &csv::ByteRecord, &mut csv::ByteRecord)>(path: &str, mut edit: F) -> Res {
    let mut rd = reader(path, b',')?;
    let mut w = writer(b',');
    let mut r = csv::ByteRecord::new();
    let mut out = csv::ByteRecord::new();
    let mut n = 0u64;
    while rd.read_byte_record(&mut r)? {
        n += 1;
        if n == 1 {
            w.write_byte_record(&r)?;
            continue;
        }
        out.clear();
        edit(n, &r, &mut out);
        w.write_byte_record(&out)?;
    }
    w.flush()?;
    Ok(())
}

fn number(b: &[u8]) -> Option<f64> {
    std::str::from_utf8(b).ok()?.parse().ok()
}

fn run(args: &[String]) -> Res {
    let a: Vec<&str> = args.iter().map(|s| s.as_str()).collect();
    match a.as_slice() {
        ["count", path] => {
            let mut rd = reader(path, b',')?;
            let mut r = csv::ByteRecord::new();
            let mut n = 0u64;
            while rd.read_byte_record(&mut r)? {
                n += 1;
            }
            println!("{}", n);
        }
        ["cat", path] => filter(path, |_| true)?,
        ["select", list, path] => {
            let (v, open) = field_list(list);
            let mut rd = reader(path, b',')?;
            let mut w = writer(b',');
            let mut r = csv::ByteRecord::new();
            while rd.read_byte_record(&mut r)? {
                for &i in &v {
                    w.write_field(field(&r, i))?;
                }
                if let Some(s) = open {
                    for i in s..r.len() {
                        w.write_field(&r[i])?;
                    }
                }
                w.write_record(None::<&[u8]>)?;
            }
            w.flush()?;
        }
        ["search", "-F", f, pat, path] => {
            let i = num(f) - 1;
            let ac = aho_corasick::AhoCorasick::new(&[pat.as_bytes()]);
            filter(path, |r| ac.is_match(field(r, i)))?
        }
        ["search", f, pat, path] => {
            let i = num(f) - 1;
            let re = regex::bytes::Regex::new(pat)?;
            filter(path, |r| re.is_match(field(r, i)))?
        }
        ["range", f, lo, hi, path] => {
            let i = num(f) - 1;
            let (lo, hi): (f64, f64) = (lo.parse()?, hi.parse()?);
            filter(path, |r| number(field(r, i)).map_or(false, |x| x >= lo && x <= hi))?
        }
        ["subst", f, pat, repl, path] => {
            let i = num(f) - 1;
            let re = regex::bytes::Regex::new(pat)?;
            let repl = repl.as_bytes();
            rewrite(path, |_, r, out| {
                for (k, v) in r.iter().enumerate() {
                    if k == i {
                        out.push_field(&re.replace(v, regex::bytes::NoExpand(repl)));
                    } else {
                        out.push_field(v);
                    }
                }
            })?
        }
        ["setcell", rec, f, value, path] => {
            let (rec, i) = (num(rec) as u64, num(f) - 1);
            rewrite(path, |n, r, out| {
                for (k, v) in r.iter().enumerate() {
                    out.push_field(if n == rec && k == i { value.as_bytes() } else { v });
                }
            })?
        }
        ["dedupe", f, path] => {
            let i = num(f) - 1;
            let mut prev: Vec<u8> = Vec::new();
            let mut first = true;
            let mut header = true;
            filter(path, |r| {
                if header {
                    header = false;
                    return true;
                }
                let k = field(r, i);
                if first || k != prev.as_slice() {
                    first = false;
                    prev.clear();
                    prev.extend_from_slice(k);
                    return true;
                }
                false
            })?
        }
        ["beside", p1, p2] => {
            let mut r1 = reader(p1, b',')?;
            let mut r2 = reader(p2, b',')?;
            let mut w = writer(b',');
            let (mut a, mut b) = (csv::ByteRecord::new(), csv::ByteRecord::new());
            while r1.read_byte_record(&mut a)? && r2.read_byte_record(&mut b)? {
                for v in a.iter().chain(b.iter()) {
                    w.write_field(v)?;
                }
                w.write_record(None::<&[u8]>)?;
            }
            w.flush()?;
        }
        ["rows", first, count, path] => {
            let (first, count) = (num(first) as u64, num(count) as u64);
            let mut rd = reader(path, b',')?;
            let mut w = writer(b',');
            let mut r = csv::ByteRecord::new();
            let mut n = 0u64;
            while rd.read_byte_record(&mut r)? {
                n += 1;
                if n >= first + count {
                    break;
                }
                if n >= first {
                    w.write_byte_record(&r)?;
                }
            }
            w.flush()?;
        }
        ["widths", path] => {
            let mut rd = reader(path, b',')?;
            let mut out = io::BufWriter::with_capacity(64 * 1024, io::stdout().lock());
            let mut r = csv::ByteRecord::new();
            let mut n = 0u64;
            while rd.read_byte_record(&mut r)? {
                n += 1;
                writeln!(out, "{}: {}", n, r.len())?;
            }
            out.flush()?;
        }
        ["lint", path] => {
            let mut rd = reader(path, b',')?;
            let mut r = csv::ByteRecord::new();
            let (mut n, mut bad, mut width) = (0u64, 0u64, 0usize);
            while rd.read_byte_record(&mut r)? {
                n += 1;
                if n == 1 {
                    width = r.len();
                } else if r.len() != width {
                    bad += 1;
                }
            }
            println!("{} records, {} with another field count", n, bad);
        }
        ["todelim", sep, path] => {
            let sep = sep_byte(sep);
            let mut rd = reader(path, b',')?;
            let mut w = writer(sep);
            let mut r = csv::ByteRecord::new();
            while rd.read_byte_record(&mut r)? {
                w.write_byte_record(&r)?;
            }
            w.flush()?;
        }
        ["fromdelim", sep, path] => {
            let mut rd = reader(path, sep_byte(sep))?;
            let mut w = writer(b',');
            let mut r = csv::ByteRecord::new();
            while rd.read_byte_record(&mut r)? {
                w.write_byte_record(&r)?;
            }
            w.flush()?;
        }
        _ => usage(),
    }
    Ok(())
}

fn sep_byte(s: &str) -> u8 {
    match s {
        "\\t" => b'\t',
        _ if s.len() == 1 => s.as_bytes()[0],
        _ => usage(),
    }
}

fn main() {
    let args: Vec<String> = std::env::args().skip(1).collect();
    if let Err(e) = run(&args) {
        if let Some(ioe) = e.downcast_ref::<io::Error>() {
            if ioe.kind() == io::ErrorKind::BrokenPipe {
                return;
            }
        }
        eprintln!("csvref: {}", e);
        std::process::exit(1);
    }
}
