#!/usr/bin/env node
// An SMTP server on 127.0.0.1 (ephemeral port) for the mail client tests.
//
//   node smtp_peer.js [--starttls|--no-starttls] [--secure] [--auth LOGIN,PLAIN,CRAM-MD5|none]
//                     [--user NAME] [--pass PASSWORD] [--reject-rcpt ADDRESS|*]
//                     [--close-at mail|rcpt] [--silent]
//
// Prints to stdout, one line each:
//   PORT <port>                                              once it listens
//   AUTH\t<method>\t<user>\t<password>\tOK|FAIL              each login (no password for CRAM-MD5)
//   MESSAGE\t<secure 0|1>\t<user>\t<from>\t<to,to,...>\t<Base64 of the data>
//   CLOSE                                                    each connection that ended
//   SKIP <reason>   (then exit 77) when smtp-server or the openssl tool is missing.
// Ends when stdin closes (the test is gone) or on SIGTERM.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');

function say(line) {
    process.stdout.write(line + '\n');
}

function skip(reason) {
    say('SKIP ' + reason);
    process.exit(77);
}

function parseArgs(argv) {
    const opts = { starttls: true, secure: false, auth: ['LOGIN', 'PLAIN'], user: 'alice', pass: 'secret',
                   rejectRcpt: null, closeAt: null, silent: false };
    for (let i = 0; i < argv.length; i++) {
        const a = argv[i];
        const value = () => {
            if (i + 1 >= argv.length) throw new Error('missing value for ' + a);
            return argv[++i];
        };
        switch (a) {
            case '--starttls': opts.starttls = true; break;
            case '--no-starttls': opts.starttls = false; break;
            case '--secure': opts.secure = true; break;
            case '--auth': {
                const v = value();
                opts.auth = v === 'none' ? [] : v.split(',').map(m => m.trim().toUpperCase()).filter(Boolean);
                break;
            }
            case '--user': opts.user = value(); break;
            case '--pass': opts.pass = value(); break;
            case '--reject-rcpt': opts.rejectRcpt = value(); break;
            case '--close-at': opts.closeAt = value(); break;
            case '--silent': opts.silent = true; break;
            default: throw new Error('unknown option ' + a);
        }
    }
    return opts;
}

let SMTPServer;
try {
    ({ SMTPServer } = require('smtp-server'));
} catch (e) {
    skip('smtp-server is not installed (npm ci --prefix tests/mail/peer)');
}

const opts = parseArgs(process.argv.slice(2));

// A throw-away self-signed certificate for STARTTLS and implicit TLS.
const certDir = fs.mkdtempSync(path.join(os.tmpdir(), 'hygro-smtp-peer-'));
const removeCertDir = () => fs.rmSync(certDir, { recursive: true, force: true });
process.on('exit', removeCertDir);
const keyFile = path.join(certDir, 'key.pem');
const certFile = path.join(certDir, 'cert.pem');
try {
    execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes',
                             '-keyout', keyFile, '-out', certFile, '-days', '2', '-subj', '/CN=localhost', '-batch'],
                 { stdio: 'ignore' });
} catch (e) {
    removeCertDir();
    skip('cannot make a certificate with the openssl tool: ' + e.message);
}

const sockets = new Set();
function dropConnections() {
    for (const s of sockets) s.destroy();
}

const server = new SMTPServer({
    name: 'peer.test',
    secure: opts.secure,
    key: fs.readFileSync(keyFile),
    cert: fs.readFileSync(certFile),
    hideSTARTTLS: !opts.starttls,
    authMethods: opts.auth.length ? opts.auth : undefined,
    disabledCommands: opts.auth.length ? [] : ['AUTH'],
    allowInsecureAuth: true,
    disableReverseLookup: true, // nothing leaves the machine
    logger: false,
    socketTimeout: 30000,
    closeTimeout: 1000,

    onConnect(session, callback) {
        if (opts.silent) return; // never greets
        callback();
    },

    onAuth(auth, session, callback) {
        const ok = auth.username === opts.user &&
            (auth.method === 'CRAM-MD5' ? auth.validatePassword(opts.pass) : auth.password === opts.pass);
        say(['AUTH', auth.method, auth.username, auth.password || '', ok ? 'OK' : 'FAIL'].join('\t'));
        if (!ok) {
            const err = new Error('Invalid username or password');
            err.responseCode = 535;
            return callback(err);
        }
        callback(null, { user: auth.username });
    },

    onMailFrom(address, session, callback) {
        if (opts.closeAt === 'mail') return dropConnections();
        callback();
    },

    onRcptTo(address, session, callback) {
        if (opts.closeAt === 'rcpt') return dropConnections();
        if (opts.rejectRcpt && (opts.rejectRcpt === '*' || opts.rejectRcpt === address.address)) {
            const err = new Error('No such user here');
            err.responseCode = 550;
            return callback(err);
        }
        callback();
    },

    onData(stream, session, callback) {
        const chunks = [];
        stream.on('data', chunk => chunks.push(chunk));
        stream.on('end', () => {
            const env = session.envelope;
            const secure = session.secure || (session.tlsOptions && session.tlsOptions.name) ? 1 : 0;
            say(['MESSAGE', secure, session.user || '', env.mailFrom ? env.mailFrom.address : '',
                 env.rcptTo.map(r => r.address).join(','), Buffer.concat(chunks).toString('base64')].join('\t'));
            callback();
        });
    },

    onClose() {
        say('CLOSE');
    },
});

server.server.on('connection', socket => {
    sockets.add(socket);
    socket.on('close', () => sockets.delete(socket));
});
server.on('error', err => process.stderr.write('smtp peer: ' + err.message + '\n'));

function shutdown() {
    dropConnections();
    server.close(() => process.exit(0));
    setTimeout(() => process.exit(0), 500).unref();
}
process.on('SIGTERM', shutdown);
process.on('SIGINT', shutdown);
process.stdin.on('end', shutdown);
process.stdin.on('error', shutdown);
process.stdin.resume();

server.listen(0, '127.0.0.1', () => say('PORT ' + server.server.address().port));
