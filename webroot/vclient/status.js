// Shows what the server or a module said in the page's query: the status
// code and its details. A field the query does not carry is left out, and a
// page opened without any says so instead of showing empty fields.
(function () {
  var params = new URLSearchParams(window.location.search);
  var show = function (id, text) {
    var element = document.getElementById(id);
    if (!element) return;
    element.textContent = text;
    // The row (or paragraph) that carries the field.
    var row = element.closest('tr') || element.parentElement;
    if (row && row !== document.body) row.hidden = text === '';
  };
  var status = params.get('qvstatus');
  var success = params.get('Success');
  show('qvstatus', status === null ? '' : status);
  show('details', params.get('details') || '');
  show('success', success === null ? '' : (success === '1' ? 'yes' : 'no'));
  show('login', params.get('login') || '');
  var none = document.getElementById('nothing');
  if (none) none.hidden = status !== null || success !== null;
})();
